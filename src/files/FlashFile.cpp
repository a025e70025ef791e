#include "files/FlashFile.h"

#include "files/ByteOrder.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace lodestrum::files {

namespace {
constexpr std::string_view FlashSignature = "**TIFL**";
}

bool FlashHeader::IsLicense() const {
    return Name == "License";
}

std::optional<FlashHeader> ReadFlashHeader(std::span<const uint8_t> image, std::size_t start) {
    if (!FitsInside(image.size(), start, FlashHeaderSize)) return std::nullopt;
    const std::span<const uint8_t> block = image.subspan(start, FlashHeaderSize);
    FlashHeader header{};
    header.Start = start;
    header.DateText = FlashDateText(block[12], block[13], block[14], block[15]);
    const std::size_t nameLength = std::min<std::size_t>(block[16], FlashNameMax);
    header.Name.assign(reinterpret_cast<const char*>(block.data()) + FlashNameOffset, nameLength);
    header.DeviceType = block[48];
    header.DataType = block[49];
    header.DataSize = ReadLe32(block, 74);
    header.DataStart = start + FlashHeaderSize;
    return header;
}

bool FlashDataInside(std::span<const uint8_t> image, const FlashHeader& header) {
    return FitsInside(image.size(), header.DataStart, header.DataSize);
}

bool HasFullFlashSignature(std::span<const uint8_t> image, std::size_t offset) {
    if (!FitsInside(image.size(), offset, FlashSignature.size())) return false;
    return std::equal(FlashSignature.begin(), FlashSignature.end(), image.begin() + offset,
                      [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
}

std::string FlashDateText(uint8_t b12, uint8_t b13, uint8_t b14, uint8_t b15) {
    char text[12];
    std::snprintf(text, sizeof text, "%02X/%02X/%02X%02X", b12, b13, b14, b15);
    return text;
}

} // namespace lodestrum::files
