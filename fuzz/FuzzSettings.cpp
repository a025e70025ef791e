// A settings file that someone edited by hand, or a disk that mangled it.
#include "FuzzSupport.h"
#include "platform/SettingsStore.h"

#include <cstdlib>
#include <fstream>

using namespace lodestrum;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::WorkFolder() + "/settings.reg";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    platform::SettingsStore store(path);
    std::string error;
    if (!store.Open(error)) return 0;
    std::string ignored;
    (void)store.ReadString("Start Directory", ignored);
    (void)store.ReadInteger("Link Port", ignored);
    // What it writes back must read back the same.
    const std::string once = store.Serialize();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << once;
    }
    platform::SettingsStore again(path);
    if (!again.Open(error) || again.Serialize() != once) std::abort();
    return 0;
}
