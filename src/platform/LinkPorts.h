#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace lodestrum::platform {

enum class PortKind { Parallel, Serial };

struct LinkPortEntry {
    uint32_t Base;
    std::string_view Text; // the port selector's item text
    PortKind Kind;
};

inline constexpr int LinkPortCount = 8;

// The eight supported ports, in the port selector's order.
inline constexpr std::array<LinkPortEntry, LinkPortCount> LinkPort{{
    {0x378, "0x378-LPT", PortKind::Parallel},
    {0x278, "0x278-LPT", PortKind::Parallel},
    {0x3BC, "0x3BC-LPT", PortKind::Parallel},
    {0x2BC, "0x2BC-LPT", PortKind::Parallel},
    {0x3F8, "0x3F8-COM", PortKind::Serial},
    {0x2F8, "0x2F8-COM", PortKind::Serial},
    {0x3E8, "0x3E8-COM", PortKind::Serial},
    {0x2E8, "0x2E8-COM", PortKind::Serial},
}};

// The register rule goes by index, not by address: parallel entries drive the
// data register and read the status register; serial entries drive the modem
// control register and read the modem status register.
constexpr uint32_t OutPortOf(int index) {
    return index < 4 ? LinkPort[index].Base : LinkPort[index].Base + 4;
}
constexpr uint32_t InPortOf(int index) {
    return index < 4 ? LinkPort[index].Base + 1 : LinkPort[index].Base + 6;
}
constexpr bool IsValidLinkPortIndex(int index) { return index >= 0 && index < LinkPortCount; }

// Output bits and input bits of the two lines.
inline constexpr uint8_t OutLineA = 0x01;
inline constexpr uint8_t OutLineB = 0x02;
inline constexpr uint8_t InLineA = 0x20;
inline constexpr uint8_t InLineB = 0x10;

} // namespace lodestrum::platform
