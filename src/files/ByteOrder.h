#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Byte helpers shared by the file formats. Readers check bounds before calling these.
namespace lodestrum::files {

inline uint16_t ReadLe16(std::span<const uint8_t> bytes, std::size_t at) {
    return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

inline uint32_t ReadLe32(std::span<const uint8_t> bytes, std::size_t at) {
    return static_cast<uint32_t>(bytes[at]) | (static_cast<uint32_t>(bytes[at + 1]) << 8) |
           (static_cast<uint32_t>(bytes[at + 2]) << 16) |
           (static_cast<uint32_t>(bytes[at + 3]) << 24);
}

inline uint16_t ReadBe16(std::span<const uint8_t> bytes, std::size_t at) {
    return static_cast<uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

inline void AppendLe16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

inline void AppendLe32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>((value >> shift) & 0xFF));
}

inline void StoreLe16(std::vector<uint8_t>& out, std::size_t at, uint16_t value) {
    out[at] = static_cast<uint8_t>(value & 0xFF);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

inline void StoreLe32(std::vector<uint8_t>& out, std::size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<uint8_t>((value >> (8 * i)) & 0xFF);
}

// Low 16 bits of the sum of the bytes, each taken unsigned: the checksum of every format here.
inline uint16_t ByteSum16(std::span<const uint8_t> bytes) {
    uint32_t sum = 0;
    for (uint8_t b : bytes)
        sum += b;
    return static_cast<uint16_t>(sum & 0xFFFF);
}

// True when [offset, offset + length) lies inside an image of imageSize bytes, without overflow.
inline bool FitsInside(std::size_t imageSize, std::size_t offset, std::size_t length) {
    return offset <= imageSize && length <= imageSize - offset;
}

} // namespace lodestrum::files
