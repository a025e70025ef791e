#include "files/Ti89File.h"

#include "files/ByteOrder.h"
#include "files/ReceivedName.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace lodestrum::files {

namespace {

constexpr std::size_t BlockPrefixSize = 6; // 4 leading bytes and S
constexpr std::string_view GroupComment = "File saved using Lodestrum";

// Type ID letters, index = type ID.
constexpr char Ti89Letters[] = "EEEELLMMKK"
                               "DTSGFIIIPF"
                               "MTTTTTTTTB"
                               "BBBZPPPP";
static_assert(sizeof(Ti89Letters) - 1 == 0x26);

std::string ZeroTerminated(std::span<const uint8_t> field) {
    std::string text;
    for (uint8_t b : field) {
        if (b == 0) break;
        text.push_back(static_cast<char>(b));
    }
    return text;
}

void AppendField(std::vector<uint8_t>& out, std::string_view text, std::size_t size) {
    const std::size_t used = std::min(text.size(), size);
    out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(used));
    out.insert(out.end(), size - used, 0x00);
}

std::vector<uint8_t> FileStart(uint8_t calcType, bool saveAs92Plus, std::string_view folder,
                               std::string_view comment) {
    std::vector<uint8_t> file;
    const std::string_view signature = Ti89Signature(calcType, saveAs92Plus);
    file.insert(file.end(), signature.begin(), signature.end());
    file.push_back(0x01);
    file.push_back(0x00);
    AppendField(file, folder, Ti89NameSize);
    AppendField(file, comment, Ti89CountOffset - Ti89CommentOffset);
    return file;
}

void AppendEntry(std::vector<uint8_t>& out, uint32_t offset, std::string_view name, uint8_t type) {
    AppendLe32(out, offset);
    AppendField(out, name, Ti89NameSize);
    out.push_back(type);
    out.insert(out.end(), 3, 0x00);
}

std::vector<uint8_t> PaddedPacket(const std::vector<uint8_t>& packetData) {
    std::vector<uint8_t> data = packetData;
    if (data.size() < BlockPrefixSize) data.resize(BlockPrefixSize, 0x00);
    return data;
}

uint32_t ToFileOffset(std::size_t value) {
    if (value > std::numeric_limits<uint32_t>::max())
        throw std::length_error("TI-89 file larger than 4 GiB");
    return static_cast<uint32_t>(value);
}

} // namespace

std::optional<Ti89Table> ReadTi89Table(std::span<const uint8_t> image) {
    if (!FitsInside(image.size(), 0, Ti89TableOffset)) return std::nullopt;
    const std::size_t count = ReadLe16(image, Ti89CountOffset);
    if (!FitsInside(image.size(), Ti89TableOffset, count * Ti89EntrySize)) return std::nullopt;
    Ti89Table table;
    table.Folder = ZeroTerminated(image.subspan(Ti89FolderOffset, Ti89NameSize));
    table.Entries.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = Ti89TableOffset + i * Ti89EntrySize;
        table.Entries.push_back(
            {ReadLe32(image, at), ZeroTerminated(image.subspan(at + 4, 8)), image[at + 12]});
    }
    return table;
}

std::optional<std::span<const uint8_t>> Ti89VariableContents(std::span<const uint8_t> image,
                                                             uint32_t offset) {
    if (!FitsInside(image.size(), offset, BlockPrefixSize)) return std::nullopt;
    const std::size_t size = ReadBe16(image, offset + 4);
    const std::size_t first = std::size_t{offset} + BlockPrefixSize;
    if (!FitsInside(image.size(), first, size)) return std::nullopt;
    return image.subspan(first, size);
}

std::optional<uint8_t> Ti89CalcTypeFromSignature(std::span<const uint8_t> image) {
    if (image.size() < 7) return std::nullopt;
    if (image[6] == 'P') return 8;
    if (image[4] == '9') return 9;
    if (image[4] == '8' && image[5] == '9') return 8;
    return std::nullopt;
}

std::string_view Ti89Signature(uint8_t calcType, bool saveAs92Plus) {
    if (calcType >= 9) return "**TI92**";
    return saveAs92Plus ? "**TI92P*" : "**TI89**";
}

std::pair<std::string, std::string> SplitTi89Name(std::string_view fullName) {
    const std::size_t slash = fullName.find('\\');
    std::string_view folder = "main";
    std::string_view name = fullName;
    if (slash != std::string_view::npos) {
        folder = fullName.substr(0, slash);
        name = fullName.substr(slash + 1);
    }
    return {std::string(folder.substr(0, Ti89NameSize)), std::string(name.substr(0, Ti89NameSize))};
}

std::vector<uint8_t> BuildTi89SingleFile(uint8_t calcType, bool saveAs92Plus,
                                         const Ti89Variable& var) {
    const auto [folder, name] = SplitTi89Name(var.FullName);
    std::vector<uint8_t> block = PaddedPacket(var.PacketData);
    std::fill_n(block.begin(), 4, 0x00);

    std::vector<uint8_t> file = FileStart(calcType, saveAs92Plus, folder, {});
    AppendLe16(file, 1);
    AppendEntry(file, Ti89SingleBlockOffset, name, var.TypeId);
    AppendLe32(file, ToFileOffset(Ti89SingleBlockOffset + block.size() + 2));
    file.push_back(0xA5);
    file.push_back(0x5A);
    file.insert(file.end(), block.begin(), block.end());
    AppendLe16(file, ByteSum16(block));
    return file;
}

std::vector<uint8_t> BuildTi89GroupFile(uint8_t calcType, bool saveAs92Plus,
                                        const std::vector<Ti89Variable>& vars) {
    struct PendingEntry {
        std::size_t BlockOffset; // relative to the first block
        std::string Name;
        uint8_t TypeId;
    };
    std::vector<PendingEntry> entries;
    std::vector<uint8_t> blocks;
    std::optional<std::string> currentFolder;
    for (const Ti89Variable& var : vars) {
        auto [folder, name] = SplitTi89Name(var.FullName);
        if (folder != currentFolder) {
            entries.push_back({blocks.size(), folder, Ti89FolderTypeId});
            currentFolder = folder;
        }
        entries.push_back({blocks.size(), std::move(name), var.TypeId});
        const std::vector<uint8_t> block = PaddedPacket(var.PacketData);
        blocks.insert(blocks.end(), block.begin(), block.end());
        AppendLe16(blocks, ByteSum16(block));
    }
    if (entries.size() > 0xFFFF)
        throw std::length_error("TI-89 group file with more than 65535 entries");

    const std::size_t headerSize = Ti89TableOffset + Ti89EntrySize * entries.size() + 6;
    std::vector<uint8_t> file = FileStart(calcType, saveAs92Plus, {}, GroupComment);
    file.reserve(headerSize + blocks.size());
    AppendLe16(file, static_cast<uint16_t>(entries.size()));
    for (const PendingEntry& entry : entries)
        AppendEntry(file, ToFileOffset(headerSize + entry.BlockOffset), entry.Name, entry.TypeId);
    AppendLe32(file, ToFileOffset(headerSize + blocks.size()));
    file.push_back(0xA5);
    file.push_back(0x5A);
    file.insert(file.end(), blocks.begin(), blocks.end());
    return file;
}

std::string Ti89ReceivedName(uint8_t calcType, std::string_view varName, uint8_t typeId) {
    if (calcType != 8 && calcType != 9) return {};
    const std::string digits = calcType == 8 ? "89" : "92";
    if (typeId == Ti89BackupTypeId) return "Backup." + digits + "B";
    const char letter = typeId < sizeof(Ti89Letters) - 1 ? Ti89Letters[typeId] : '_';
    return SafeFileName(SplitTi89Name(varName).second + "." + digits + letter);
}

} // namespace lodestrum::files
