#include "support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace lodestrum::testkit {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lodestrum-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    Root = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(Root, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(Root, ec);
}

std::filesystem::path TempDir::Write(const std::string& name,
                                     const std::vector<uint8_t>& bytes) const {
    const auto path = Root / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace lodestrum::testkit
