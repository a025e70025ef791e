#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// FLASH files (applications, AMS updates): blocks of a 78-byte header followed by its data.
//
//   0   8   "**TIFL**"
//   8   4   (not read)
//   12  4   date, shown as "%02X/%02X/%02X%02X"
//   16  1   name length N
//   17  31  name field: N bytes of name
//   48  1   device type
//   49  1   data type (0x23: AMS)
//   50  24  (not read)
//   74  4   data size, little-endian
//   78  ... data
//
// Only reading: the question asked after a licence block, and the stepping from block to block,
// belong to the send job.
namespace lodestrum::files {

inline constexpr std::size_t FlashHeaderSize = 78;
inline constexpr std::size_t FlashNameOffset = 17;
// Room between the name and the device type: a longer name length is cut to this.
inline constexpr std::size_t FlashNameMax = 48 - FlashNameOffset;
inline constexpr uint8_t FlashAmsDataType = 0x23;

struct FlashHeader {
    std::size_t Start;    // offset of the block
    std::string Name;     // min(N, 31) bytes from offset 17, as stored (a NUL among them kept)
    std::string DateText; // FlashDateText of bytes 12 to 15
    uint8_t DeviceType;
    uint8_t DataType;
    uint32_t DataSize;
    std::size_t DataStart; // Start + 78
    // A block whose name is exactly "License", which the sender steps over.
    bool IsLicense() const;
    bool IsAms() const { return DataType == FlashAmsDataType; }
    // Where the next block would start; may lie past the image.
    std::size_t NextBlock() const { return DataStart + DataSize; }
};

// The header of the block at start, or nullopt when its 78 bytes run past the image. A name
// length above 31 would reach into the device type and beyond the header: the name is cut to
// the 31 bytes of its field. The data are not looked at: see FlashDataInside.
std::optional<FlashHeader> ReadFlashHeader(std::span<const uint8_t> image, std::size_t start);

// True when the block's data lie wholly inside the image.
bool FlashDataInside(std::span<const uint8_t> image, const FlashHeader& header);

// True when all 8 bytes at offset are "**TIFL**" (false when they run past the image).
bool HasFullFlashSignature(std::span<const uint8_t> image, std::size_t offset);

// "%02X/%02X/%02X%02X" of the four date bytes: 0x12 0x05 0x20 0x01 gives "12/05/2001".
std::string FlashDateText(uint8_t b12, uint8_t b13, uint8_t b14, uint8_t b15);

} // namespace lodestrum::files
