#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Variable, group and backup files of the TI-82, TI-83 (and 83 Plus), TI-85 and TI-86.
//
//   0   8   signature "**TI8%c**" with the model digit
//   8   1   0x1A
//   9   1   0x0C for the TI-85, 0x0A otherwise
//   10  1   0x00
//   11  42  comment: text, NUL, spaces
//   53  2   data-section length, low 16 bits
//   55  n   data section: VarEntry records (header length L, VarHeader, DataPart records)
//   55+n 2  checksum: low 16 bits of the byte sum of the data section
//
// All numbers are little-endian. A DataPart is its 16-bit length m followed by m bytes.
// Every reader here takes an image a stranger wrote: no offset is used before it has been
// checked against the image size.
namespace lodestrum::files {

inline constexpr std::size_t Ti8xSignatureSize = 8;
inline constexpr std::size_t Ti8xCommentOffset = 11;
inline constexpr std::size_t Ti8xCommentSize = 42;
inline constexpr std::size_t Ti8xLengthOffset = 53;
inline constexpr std::size_t Ti8xDataOffset = 55;
// Header plus checksum: the size of a file without entries.
inline constexpr std::size_t Ti8xEmptyFileSize = 57;

// BackupTypeId's answer for a model without a backup type.
inline constexpr uint8_t NoBackupType = 0xFF;

// True for the CalcType codes of this family's layout (2, 3, 5, 6).
bool IsTi8xModel(uint8_t calcType);

// Backup type ID of a model: 2 -> 0x0F, 3 -> 0x13, 5 and 6 -> 0x1D, others NoBackupType.
uint8_t BackupTypeId(uint8_t calcType);

// True when typeId is the backup type of calcType (never for a model without one).
bool IsTi8xBackup(uint8_t calcType, uint8_t typeId);

// Number of DataPart records an entry of this type carries: 3 for the model's backup, 4 for a
// TI-86 backup while the four-part option is on, 1 otherwise (also when typeId is empty).
unsigned Ti8xPartCount(uint8_t calcType, std::optional<uint8_t> typeId, bool ti86FourParts);

struct Ti8xPart {
    std::size_t LengthOffset; // offset of the 16-bit part length
    uint16_t Length;          // m
    std::size_t DataOffset;   // offset of the m data bytes
};

struct Ti8xEntry {
    std::size_t Start;        // offset of the header length
    uint16_t HeaderLength;    // L
    std::size_t HeaderOffset; // offset of the L VarHeader bytes (Start + 2)
    uint8_t TypeId;           // VarHeader byte 2; Ti8xNoTypeId when L < 3
    std::vector<Ti8xPart> Parts;
    std::size_t Next; // offset just past the last part
};

// TypeId of an entry whose header is too short to hold one.
inline constexpr uint8_t Ti8xNoTypeId = 0xFF;

// The entry at start with partCount DataPart records, or nullopt when any length, the header
// or a part runs past image.size(): the whole entry lies inside the image. To keep an entry
// out of the checksum, pass image.first(image.size() - 2).
std::optional<Ti8xEntry> ParseTi8xEntry(std::span<const uint8_t> image, std::size_t start,
                                        unsigned partCount);

// Type ID of the entry at start (byte start + 4), or nullopt when the header length is below 3
// (a header that holds no type ID, as made from an empty VAR packet) or the byte lies outside
// the image. Used to decide the part count before the entry is parsed.
std::optional<uint8_t> Ti8xEntryTypeId(std::span<const uint8_t> image, std::size_t start);

// Display name of a variable from its VarHeader: for 2 and 3 the 8 bytes after the type ID up to
// the first NUL; for 5 and 6 the name-length byte, then that many bytes. Bounded by the header's
// size; empty for other models or a header too short to hold a name.
std::string Ti8xVariableName(uint8_t calcType, std::span<const uint8_t> varHeader);

struct Ti8xVariable {
    std::vector<uint8_t> Header;             // the VarHeader as the calculator sent it (L bytes)
    std::vector<std::vector<uint8_t>> Parts; // the data of each data packet, unchanged
};

enum class Ti8xComment {
    Transferred, // single variable or backup: "File transferd using Lodestrum"
    Saved,       // group: "File saved using Lodestrum"
};

// The comment text of a kind (without NUL or padding).
std::string_view Ti8xCommentText(Ti8xComment comment);

// The whole file. calcType must be below 8 (its digit is the model digit of the signature;
// only 2, 3, 5 and 6 are real models). Throws std::invalid_argument for calcType 8 and above,
// std::length_error for a header or part longer than 65535 bytes (a 16-bit field cannot hold
// it). A data section above 65535 bytes keeps the low 16 bits of its length at offset 53.
std::vector<uint8_t> BuildTi8xFile(uint8_t calcType, Ti8xComment comment,
                                   const std::vector<Ti8xVariable>& vars);

struct Ti8xFile {
    uint8_t CalcType; // from the signature: 2, 3, 5 or 6 ("**TI83F*" gives 3)
    std::vector<Ti8xVariable> Variables;
};

// Reads a whole file as the sender walks it: entries from offset 55 while the position is below
// size - 2, each with the part count of Ti8xPartCount; once a backup entry has been seen, every
// later entry is read with that part count too. Stricter than the sender in one point: every
// entry must end inside the data section (not in the checksum). nullopt when the signature is
// not of this family, the image is shorter than 57 bytes or an entry runs past the data section.
std::optional<Ti8xFile> ReadTi8xFile(std::span<const uint8_t> image, bool ti86FourParts);

// Automatic name of a received variable or backup (a bare file name, already SafeFileName'd).
// TI-82/83 by type ID, n being the decimal value of VarHeader byte 4:
//   0x01 "L"n".8dL", 0x05/0x06 name".8dP", 0x07 "PIC"n".8dI", 0x08 "GDB"n".8dG",
//   the model's backup type "Backup.8dB", any other "UNKNOWN.8d_".
// TI-85/86: name"."digits letter, the backup 0x1D "Backup.85B"/"Backup.86B". Type IDs above 0x1D
// have no letter and get '_', like the other unlettered types.
// A header too short for the field a rule needs (no type ID, or no byte 4 for n) is named
// "UNKNOWN.8d_". Empty for a model outside the family: no automatic name exists then.
std::string Ti8xReceivedName(uint8_t calcType, std::span<const uint8_t> varHeader);

// True when the last component of path has an extension: a '.' that is not its first character.
// "a/b.83g" and "name." have one; "a.b/name", ".hidden" and ".." have none.
bool HasExtension(std::string_view path);

// Appends the group extension when the name has none: ".8" + model digit + "G" below 8,
// ".89G" for 8 and ".92G" for 9 and above.
std::string WithGroupExtension(std::string name, uint8_t calcType);

} // namespace lodestrum::files
