// A file image from a stranger, sent by the route its signature picks, with a
// calculator that answers every packet as a calculator would.
#include "FuzzSupport.h"

#include <fstream>

using namespace lodestrum;

namespace {

// The calculator's answer to each announcement: ACK, then CTS, a SKIP with
// some code or a command no route expects, so every branch of the judging
// is reached; the first `plain` exchanges go through with CTS.
std::vector<uint8_t> Replies(uint8_t pattern, uint8_t plain) {
    static const uint8_t second[][7] = {
        {0x83, 0x09, 0, 0},          {0x83, 0x36, 1, 0, 1, 1, 0}, {0x83, 0x36, 1, 0, 2, 2, 0},
        {0x83, 0x36, 1, 0, 3, 3, 0}, {0x83, 0x5A, 0, 0},          {0x89, 0x92, 0, 0},
        {0x83, 0x36, 1, 0, 1, 1, 0}, {0x83, 0x09, 0xFF, 0xFF},
    };
    std::vector<uint8_t> r;
    for (int i = 0; i < 512; ++i) {
        const uint8_t ack[4] = {0x83, 0x56, 0, 0};
        r.insert(r.end(), ack, ack + 4);
        const uint8_t* answer = i < plain ? second[0] : second[pattern & 7];
        r.insert(r.end(), answer, answer + (answer[1] == 0x36 ? 7 : 4));
        r.insert(r.end(), ack, ack + 4); // for the DATA packet
    }
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const std::vector<uint8_t> replies = Replies(data[1] >> 3, data[1] >> 6);
    const uint8_t flags = data[0];
    const std::string folder = fuzz::WorkFolder();
    // The extension chooses the .tib route.
    const std::string path = folder + ((flags & 0x80) ? "/image.tib" : "/file.83p");
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + 2), static_cast<std::streamsize>(size - 2));
    }
    engine::JobSettings settings;
    settings.TI86FourParts = flags & 0x01;
    settings.TI89NoFolderName = flags & 0x02;
    settings.TI89SendToFolder = flags & 0x04;
    settings.TI89VarLinkOnly = flags & 0x08;
    static const uint8_t types[] = {2, 3, 5, 6, 8, 9, 0, 0x73};
    fuzz::FuzzHost host;
    host.Answer = flags & 0x10;
    fuzz::RunJob((flags & 0x20) ? engine::OpSendSeries : engine::OpSendSingle, path, settings,
                 types[data[1] & 7], replies, host);
    std::remove(path.c_str());
    return 0;
}
