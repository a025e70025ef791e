#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace lodestrum::testkit {

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return Root; }
    std::filesystem::path Write(const std::string& name, const std::vector<uint8_t>& bytes) const;

private:
    std::filesystem::path Root;
};

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);

// Makes a folder the current one for its lifetime.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::filesystem::path& folder)
        : Previous(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~CurrentFolder() { std::filesystem::current_path(Previous); }

private:
    std::filesystem::path Previous;
};

} // namespace lodestrum::testkit
