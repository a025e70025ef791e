#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Variable and group files of the TI-89, TI-92 Plus and TI-92 (N = number of entries):
//
//   0       8     signature "**TI89**", "**TI92P*" or "**TI92**"
//   8       2     0x01 0x00
//   10      8     folder, zero-padded (single file: the variable's folder; group: zero)
//   18      40    comment, zero-padded (single file: zero; group: "File saved using Lodestrum")
//   58      2     N, folder entries included
//   60      16N   EntryRecord: offset (4), name (8, zero-padded), type ID, 3 zero bytes
//   60+16N  4     file size
//   64+16N  2     0xA5 0x5A
//   66+16N  ...   VarBlock per variable: 4 leading bytes, size S big-endian, S bytes, checksum
//
// A folder entry (type 0x1F) opens a folder for the entries after it and carries the offset of
// the next variable's block. Numbers are little-endian but S. The readers check every offset
// and length against the image before use.
namespace lodestrum::files {

inline constexpr std::size_t Ti89FolderOffset = 10;
inline constexpr std::size_t Ti89CommentOffset = 18;
inline constexpr std::size_t Ti89CountOffset = 58;
inline constexpr std::size_t Ti89TableOffset = 60;
inline constexpr std::size_t Ti89EntrySize = 16;
inline constexpr std::size_t Ti89NameSize = 8;
inline constexpr std::size_t Ti89SingleBlockOffset = 82;
inline constexpr uint8_t Ti89FolderTypeId = 0x1F;
inline constexpr uint8_t Ti89BackupTypeId = 0x1D;

struct Ti89Entry {
    uint32_t Offset;  // from the start of the file to the VarBlock
    std::string Name; // up to the first zero byte, at most 8 characters
    uint8_t TypeId;   // Ti89FolderTypeId for a folder entry
};

struct Ti89Table {
    std::string Folder; // offset 10, up to the first zero byte, at most 8 characters
    std::vector<Ti89Entry> Entries;
};

// The folder and entry table, or nullopt when the image is too short for the count or the table.
// Offsets are not checked here: Ti89VariableContents does that per entry.
std::optional<Ti89Table> ReadTi89Table(std::span<const uint8_t> image);

// The S content bytes of the block at offset (S big-endian at offset + 4, contents from
// offset + 6), or nullopt when the size field or the contents run past the image.
std::optional<std::span<const uint8_t>> Ti89VariableContents(std::span<const uint8_t> image,
                                                             uint32_t offset);

// CalcType of a signature by the reader's rules: byte 6 'P' gives 8; else byte 4 '9' gives 9;
// else byte 4 '8' with byte 5 '9' gives 8. nullopt otherwise (also for an image under 7 bytes).
std::optional<uint8_t> Ti89CalcTypeFromSignature(std::span<const uint8_t> image);

// The 8 signature bytes a writer uses: "**TI92**" for 9 and above, otherwise "**TI92P*" with
// the TI-92 Plus option and "**TI89**" without.
std::string_view Ti89Signature(uint8_t calcType, bool saveAs92Plus);

// Folder and name of a name as the calculator sends it: the folder is the part before the first
// backslash ("main" without one), the name the part after it. Both are cut to 8 characters.
std::pair<std::string, std::string> SplitTi89Name(std::string_view fullName);

struct Ti89Variable {
    std::string FullName; // as the calculator sent it, "folder\name" or "name"
    uint8_t TypeId;
    std::vector<uint8_t> PacketData; // the data packet's data: 4 leading bytes, S (BE), contents
};

// A single-variable file: the folder field holds the variable's folder, one entry with offset 82,
// the block's four leading bytes zeroed, the file PacketData.size() + 84 bytes long. PacketData
// shorter than 6 bytes (no room for S) is padded with zero bytes to 6, so the file stays readable.
std::vector<uint8_t> BuildTi89SingleFile(uint8_t calcType, bool saveAs92Plus,
                                         const Ti89Variable& var);

// A group file: entries in the order given, with a folder entry before the first variable and
// before each variable whose folder differs from the one before ("main" for a name without
// folder). Blocks keep their four leading bytes. Short PacketData is padded as above.
// Throws std::length_error beyond 65535 entries (N is 16 bits) or a file above 4 GiB.
std::vector<uint8_t> BuildTi89GroupFile(uint8_t calcType, bool saveAs92Plus,
                                        const std::vector<Ti89Variable>& vars);

// Automatic name of a received variable: the name without its folder (a "folder\name" varName
// loses its folder as in SplitTi89Name), cut to 8 characters,
// "." + "89" (8) or "92" (9) + the type ID's letter; type 0x1D gives "Backup.89B"/"Backup.92B".
// Type IDs above 0x25 have no letter and get '_', as the unlettered TI-8x types do.
// The result is already SafeFileName'd. Empty for a model outside the family (no automatic name).
std::string Ti89ReceivedName(uint8_t calcType, std::string_view varName, uint8_t typeId);

} // namespace lodestrum::files
