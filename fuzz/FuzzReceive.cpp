// The calculator's side of a receive or a screen capture is the fuzzer's: every
// length, name, machine ID and order is hostile.
#include "FuzzSupport.h"

#include <filesystem>

using namespace lodestrum;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t flags = data[0];
    static const uint8_t ops[] = {engine::OpReceiveVariables, engine::OpReceiveGroup,
                                  engine::OpCaptureScreen, engine::OpReceiveVariables};
    static const uint8_t types[] = {2, 3, 5, 6, 8, 9, 0, 0x73};
    engine::JobSettings settings;
    settings.TI86FourParts = flags & 0x04;
    settings.TI89ClipScreen = flags & 0x08;
    settings.TI89SaveAs92Plus = flags & 0x10;
    fuzz::FuzzHost host;
    host.Answer = flags & 0x20;
    host.SaveName = (flags & 0x40) ? "chosen.8xg" : "";
    const uint8_t op = ops[flags & 3];
    const std::string group = fuzz::WorkFolder() + "/group";
    fuzz::RunJob(op, op == engine::OpReceiveGroup ? group : "", settings, types[(flags >> 5) & 7],
                 {data + 1, size - 1}, host);
    // Whatever was written stays inside the folder the job was given.
    fuzz::EmptyWorkFolder();
    return 0;
}
