#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// One-bit pictures (the calculator's captured screen) as BMP and PNG files.
// Pixel rows are (Width + 7) / 8 bytes, bit 7 the leftmost pixel, 0 black and
// 1 white, top row first.
namespace lodestrum::files {

struct MonoBitmap {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Bits;
};

// Largest side a decoded picture may have; a stranger's header is not trusted further.
inline constexpr int MaxMonoSide = 8192;

// A Windows bitmap file: file header, 40-byte information header, the
// two-entry colour table (black, white), the rows bottom-up, each padded to
// 4 bytes. Empty when bits hold fewer bytes than the size needs or a side is
// not positive.
std::vector<uint8_t> EncodeMonoBmp(const MonoBitmap& image);

// A PNG of 1-bit greyscale with stored (uncompressed) deflate blocks. Empty
// as EncodeMonoBmp.
std::vector<uint8_t> EncodeMonoPng(const MonoBitmap& image);

// Reads an uncompressed 1-bit BMP (information header of 40 bytes or more,
// rows bottom-up or top-down). Each colour-table entry counts as white when
// it is brighter than mid-grey. nullopt for anything else, or a file whose
// fields point past its end.
std::optional<MonoBitmap> DecodeMonoBmp(std::span<const uint8_t> file);

uint32_t Crc32(std::span<const uint8_t> bytes, uint32_t crc = 0);
uint32_t Adler32(std::span<const uint8_t> bytes);

} // namespace lodestrum::files
