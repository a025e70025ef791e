// Names a calculator sends become file names: never a path out of the folder.
#include "files/ReceivedName.h"
#include "files/Ti89File.h"
#include "files/Ti8xFile.h"

#include <cstdlib>
#include <span>
#include <string>

using namespace lodestrum::files;

namespace {

void CheckSafe(const std::string& name) {
    if (name.empty()) return; // no automatic name: the caller asks the user
    if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos ||
        name == "." || name == "..")
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::string safe = SafeFileName(text);
    if (safe.empty()) std::abort();
    CheckSafe(safe);
    const std::span<const uint8_t> header(data + 2, size - 2);
    CheckSafe(Ti8xReceivedName(data[0] & 0x0F, header));
    CheckSafe(Ti89ReceivedName(8 + (data[0] & 1), text, data[1]));
    const auto [folder, name] = SplitTi89Name(text);
    if (folder.size() > 8 || name.size() > 8) std::abort();
    (void)HasExtension(text);
    (void)WithGroupExtension(safe, data[0]);
    (void)MatchesMask(text, "*.8??;*.9??");
    return 0;
}
