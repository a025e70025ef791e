#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lodestrum::examples {

struct ExampleFile {
    std::string Name;
    std::vector<uint8_t> Bytes;
};

// The example files of this folder, built with the project's own file builders.
std::vector<ExampleFile> ExampleFiles();

} // namespace lodestrum::examples
