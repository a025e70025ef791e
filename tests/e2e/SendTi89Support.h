#pragma once

// Files and transcript readings shared by the TI-89/92 and FLASH send tests.
#include "files/Ti89File.h"
#include "support/SendRig.h"

#include <cstring>
#include <string>
#include <vector>

namespace lodestrum::testkit::e2e {

inline constexpr uint8_t VAR = 0x06, CTS = 0x09, DATA = 0x15, ACK = 0x56, EOT = 0x92, CONT = 0x78,
                  SKIP = 0x36;

// The calculator's data packet for contents: four leading bytes, S big-endian, the bytes.
inline std::vector<uint8_t> PacketData(const std::vector<uint8_t>& contents) {
    std::vector<uint8_t> d = {0xAA, 0xBB, 0xCC, 0xDD, static_cast<uint8_t>(contents.size() >> 8),
                              static_cast<uint8_t>(contents.size())};
    d.insert(d.end(), contents.begin(), contents.end());
    return d;
}

inline std::vector<uint8_t> Contents(std::size_t n, uint8_t seed = 3) {
    std::vector<uint8_t> c(n);
    for (std::size_t i = 0; i < n; ++i) c[i] = static_cast<uint8_t>(seed + 5 * i);
    return c;
}

inline files::Ti89Variable Var(const std::string& name, std::size_t size, uint8_t type = 0x12) {
    return {name, type, PacketData(Contents(size))};
}

inline std::vector<std::string> NamesSent(const SendRig& s) {
    std::vector<std::string> names;
    for (const auto& p : s.FromPc())
        if (p.Command == VAR && p.Data.size() >= 6)
            names.emplace_back(p.Data.begin() + 6, p.Data.begin() + 6 + p.Data[5]);
    return names;
}

inline int CountFromPc(const SendRig& s, uint8_t command) {
    int n = 0;
    for (const auto& p : s.FromPc()) n += p.Command == command;
    return n;
}

// A FLASH file block: the 78-byte header, then its data.
inline std::vector<uint8_t> FlashBlock(const std::string& name, uint8_t device, uint8_t dataType,
                                const std::vector<uint8_t>& data) {
    std::vector<uint8_t> b(78, 0);
    std::memcpy(b.data(), "**TIFL**", 8);
    b[12] = 0x12, b[13] = 0x05, b[14] = 0x20, b[15] = 0x01;
    b[16] = static_cast<uint8_t>(name.size());
    std::memcpy(&b[17], name.data(), name.size());
    b[48] = device;
    b[49] = dataType;
    const uint32_t size = static_cast<uint32_t>(data.size());
    for (int i = 0; i < 4; ++i) b[74 + i] = static_cast<uint8_t>(size >> (8 * i));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

} // namespace lodestrum::testkit::e2e
