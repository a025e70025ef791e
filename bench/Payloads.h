#pragma once

// What the benchmarks send and have the calculator send, built here so no
// benchmark depends on a file outside the source tree.
#include "files/Ti8xFile.h"
#include "vcalc/SimCalculator.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace lodestrum::bench {

inline std::vector<uint8_t> Contents(std::size_t size, uint8_t seed = 7) {
    std::vector<uint8_t> d(size);
    for (std::size_t i = 0; i < size; ++i)
        d[i] = static_cast<uint8_t>(i * 31 + seed);
    return d;
}

// A FLASH application for the TI-89: the 78-byte block header, then `size` bytes.
inline std::vector<uint8_t> FlashApplicationImage(std::size_t size) {
    const auto data = Contents(size);
    std::vector<uint8_t> b(78 + size, 0);
    std::memcpy(b.data(), "**TIFL**", 8);
    b[12] = 0x12, b[13] = 0x05, b[14] = 0x20, b[15] = 0x01;
    b[16] = 5;
    std::memcpy(&b[17], "bench", 5);
    b[48] = 0x98;
    b[49] = 0x24;
    for (int i = 0; i < 4; ++i)
        b[74 + i] = static_cast<uint8_t>(size >> (8 * i));
    std::copy(data.begin(), data.end(), b.begin() + 78);
    return b;
}

// A TI-83 variable of the calculator's memory: size, type (program), 8-byte name.
inline vcalc::StoredVariable Ti83Variable(const std::string& name, std::size_t size,
                                          uint8_t seed = 1) {
    std::vector<uint8_t> h = {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8), 0x05};
    for (std::size_t i = 0; i < 8; ++i)
        h.push_back(i < name.size() ? name[i] : 0);
    return {h, {Contents(size, seed)}, {}, false};
}

// The TI-83 backup the simulated calculator sends of its memory: a 1024-byte
// system area, a 256-byte symbol table, then its variables' data. One
// variable makes the backup `total` data bytes.
inline constexpr std::size_t BackupFixedParts = 1024 + 256;
inline vcalc::StoredVariable Ti83MemoryForBackup(std::size_t total) {
    return Ti83Variable("FILL", total - BackupFixedParts, 3);
}

// Bytes each side put on the link, from the calculator's transcript: four
// header bytes a packet, and its data with the two checksum bytes.
struct LinkBytes {
    std::size_t FromPc = 0;
    std::size_t FromCalculator = 0;
};
inline LinkBytes CountLinkBytes(const std::vector<vcalc::Packet>& transcript) {
    LinkBytes bytes;
    for (const auto& p : transcript)
        (p.FromCalculator ? bytes.FromCalculator : bytes.FromPc) +=
            4 + (p.Data.empty() ? 0 : p.Data.size() + 2);
    return bytes;
}

} // namespace lodestrum::bench
