#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lodestrum::files::test {

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The corpus folder named by LODESTRUM_CORPUS, or nullopt when unset or missing.
inline std::optional<std::filesystem::path> CorpusDir() {
    const char* dir = std::getenv("LODESTRUM_CORPUS");
    if (!dir || !*dir || !std::filesystem::is_directory(dir)) return std::nullopt;
    return std::filesystem::path(dir);
}

inline std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> paths;
    if (std::filesystem::is_directory(folder))
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.is_regular_file()) paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    return paths;
}

inline std::vector<uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

} // namespace lodestrum::files::test
