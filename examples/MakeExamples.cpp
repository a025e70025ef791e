// Writes the example files into the folder given as argument (the current folder by default).
#include "ExampleFiles.h"

#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : ".";
    for (const auto& file : lodestrum::examples::ExampleFiles()) {
        const std::string path = folder + "/" + file.Name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.Bytes.data()),
                  static_cast<std::streamsize>(file.Bytes.size()));
        if (!out) {
            std::fprintf(stderr, "make_examples: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s (%zu bytes)\n", path.c_str(), file.Bytes.size());
    }
    return 0;
}
