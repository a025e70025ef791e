#include "files/Ti8xFile.h"

#include "files/ByteOrder.h"
#include "files/ReceivedName.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

namespace lodestrum::files {

namespace {

constexpr std::size_t VarHeaderTypeOffset = 2;
constexpr std::size_t VarHeaderNameOffset = 3;
constexpr std::size_t Ti82NameSize = 8;
constexpr uint8_t Ti85LastLetteredType = 0x1D;

char ModelDigit(uint8_t calcType) {
    return static_cast<char>('0' + calcType);
}

std::string ModelSuffix(uint8_t calcType, char letter) {
    return std::string{'.', '8', ModelDigit(calcType), letter};
}

std::string Unknown(uint8_t calcType) {
    return "UNKNOWN" + ModelSuffix(calcType, '_');
}

std::string Ti82Name(std::span<const uint8_t> varHeader) {
    std::string name;
    for (std::size_t i = VarHeaderNameOffset;
         i < varHeader.size() && i < VarHeaderNameOffset + Ti82NameSize && varHeader[i] != 0; ++i)
        name.push_back(static_cast<char>(varHeader[i]));
    return name;
}

std::string Ti85Name(std::span<const uint8_t> varHeader) {
    if (varHeader.size() <= VarHeaderNameOffset) return {};
    const std::size_t length = varHeader[VarHeaderNameOffset];
    const std::size_t first = VarHeaderNameOffset + 1;
    const std::size_t end = std::min(varHeader.size(), first + length);
    std::string name;
    for (std::size_t i = first; i < end; ++i)
        name.push_back(static_cast<char>(varHeader[i]));
    return name;
}

// Type ID letters of the TI-85 and TI-86, index = type ID.
constexpr char Ti85Letters[] = "NCVVLLMMKK"
                               "ERSDDDDIPR"
                               "_RRRRRRR_B";
static_assert(sizeof(Ti85Letters) - 1 == Ti85LastLetteredType + 1);

std::string Ti82ReceivedName(uint8_t calcType, std::span<const uint8_t> varHeader) {
    const uint8_t typeId = varHeader[VarHeaderTypeOffset];
    if (IsTi8xBackup(calcType, typeId)) return "Backup" + ModelSuffix(calcType, 'B');
    const bool hasIndex = varHeader.size() > 4;
    const std::string index = hasIndex ? std::to_string(varHeader[4]) : std::string{};
    switch (typeId) {
    case 0x01:
        return hasIndex ? "L" + index + ModelSuffix(calcType, 'L') : Unknown(calcType);
    case 0x05:
    case 0x06:
        return Ti82Name(varHeader) + ModelSuffix(calcType, 'P');
    case 0x07:
        return hasIndex ? "PIC" + index + ModelSuffix(calcType, 'I') : Unknown(calcType);
    case 0x08:
        return hasIndex ? "GDB" + index + ModelSuffix(calcType, 'G') : Unknown(calcType);
    default:
        return Unknown(calcType);
    }
}

std::string Ti85ReceivedName(uint8_t calcType, std::span<const uint8_t> varHeader) {
    const uint8_t typeId = varHeader[VarHeaderTypeOffset];
    if (IsTi8xBackup(calcType, typeId)) return "Backup" + ModelSuffix(calcType, 'B');
    const char letter = typeId <= Ti85LastLetteredType ? Ti85Letters[typeId] : '_';
    return Ti85Name(varHeader) + ModelSuffix(calcType, letter);
}

} // namespace

bool IsTi8xModel(uint8_t calcType) {
    return calcType == 2 || calcType == 3 || calcType == 5 || calcType == 6;
}

uint8_t BackupTypeId(uint8_t calcType) {
    switch (calcType) {
    case 2:
        return 0x0F;
    case 3:
        return 0x13;
    case 5:
    case 6:
        return 0x1D;
    default:
        return NoBackupType;
    }
}

bool IsTi8xBackup(uint8_t calcType, uint8_t typeId) {
    const uint8_t backup = BackupTypeId(calcType);
    return backup != NoBackupType && typeId == backup;
}

unsigned Ti8xPartCount(uint8_t calcType, std::optional<uint8_t> typeId, bool ti86FourParts) {
    if (!typeId || !IsTi8xBackup(calcType, *typeId)) return 1;
    return calcType == 6 && ti86FourParts ? 4 : 3;
}

std::optional<Ti8xEntry> ParseTi8xEntry(std::span<const uint8_t> image, std::size_t start,
                                        unsigned partCount) {
    if (!FitsInside(image.size(), start, 2)) return std::nullopt;
    Ti8xEntry entry{};
    entry.Start = start;
    entry.HeaderLength = ReadLe16(image, start);
    entry.HeaderOffset = start + 2;
    if (!FitsInside(image.size(), entry.HeaderOffset, entry.HeaderLength)) return std::nullopt;
    entry.TypeId = entry.HeaderLength > VarHeaderTypeOffset
                       ? image[entry.HeaderOffset + VarHeaderTypeOffset]
                       : Ti8xNoTypeId;
    std::size_t position = entry.HeaderOffset + entry.HeaderLength;
    // Every part needs its 2 length bytes, so a silly count cannot reserve more than the image.
    entry.Parts.reserve(std::min<std::size_t>(partCount, (image.size() - position) / 2));
    for (unsigned i = 0; i < partCount; ++i) {
        if (!FitsInside(image.size(), position, 2)) return std::nullopt;
        const Ti8xPart part{position, ReadLe16(image, position), position + 2};
        if (!FitsInside(image.size(), part.DataOffset, part.Length)) return std::nullopt;
        entry.Parts.push_back(part);
        position = part.DataOffset + part.Length;
    }
    entry.Next = position;
    return entry;
}

std::optional<uint8_t> Ti8xEntryTypeId(std::span<const uint8_t> image, std::size_t start) {
    if (!FitsInside(image.size(), start, 5) || ReadLe16(image, start) <= VarHeaderTypeOffset)
        return std::nullopt;
    return image[start + 2 + VarHeaderTypeOffset];
}

std::string Ti8xVariableName(uint8_t calcType, std::span<const uint8_t> varHeader) {
    if (calcType == 2 || calcType == 3) return Ti82Name(varHeader);
    if (calcType == 5 || calcType == 6) return Ti85Name(varHeader);
    return {};
}

std::string_view Ti8xCommentText(Ti8xComment comment) {
    return comment == Ti8xComment::Saved ? "File saved using Lodestrum"
                                         : "File transferd using Lodestrum";
}

std::vector<uint8_t> BuildTi8xFile(uint8_t calcType, Ti8xComment comment,
                                   const std::vector<Ti8xVariable>& vars) {
    if (calcType >= 8) throw std::invalid_argument("BuildTi8xFile: not a TI-82/83/85/86 model");

    std::vector<uint8_t> file(Ti8xDataOffset, 0x00);
    const char signature[] = {'*', '*', 'T', 'I', '8', ModelDigit(calcType), '*', '*'};
    std::copy(std::begin(signature), std::end(signature), file.begin());
    file[8] = 0x1A;
    file[9] = calcType == 5 ? 0x0C : 0x0A;
    const std::string_view text = Ti8xCommentText(comment);
    const auto comment0 = file.begin() + Ti8xCommentOffset;
    std::fill(comment0, comment0 + Ti8xCommentSize, ' ');
    std::copy(text.begin(), text.end(), comment0);
    comment0[static_cast<std::ptrdiff_t>(text.size())] = 0x00;

    auto appendField = [&file](const std::vector<uint8_t>& bytes) {
        if (bytes.size() > 0xFFFF)
            throw std::length_error("BuildTi8xFile: field longer than 65535 bytes");
        AppendLe16(file, static_cast<uint16_t>(bytes.size()));
        file.insert(file.end(), bytes.begin(), bytes.end());
    };
    for (const Ti8xVariable& var : vars) {
        appendField(var.Header);
        for (const std::vector<uint8_t>& part : var.Parts)
            appendField(part);
    }

    const std::span<const uint8_t> data = std::span(file).subspan(Ti8xDataOffset);
    StoreLe16(file, Ti8xLengthOffset, static_cast<uint16_t>(data.size() & 0xFFFF));
    AppendLe16(file, ByteSum16(data));
    return file;
}

std::optional<Ti8xFile> ReadTi8xFile(std::span<const uint8_t> image, bool ti86FourParts) {
    if (image.size() < Ti8xEmptyFileSize || image[0] != '*' || image[1] != '*' || image[2] != 'T' ||
        image[3] != 'I' || image[4] != '8')
        return std::nullopt;
    const auto calcType = static_cast<uint8_t>(image[5] - '0');
    if (!IsTi8xModel(calcType)) return std::nullopt;

    Ti8xFile file{calcType, {}};
    const std::span<const uint8_t> data = image.first(image.size() - 2);
    unsigned partCount = 1;
    for (std::size_t position = Ti8xDataOffset; position < data.size();) {
        if (partCount == 1)
            partCount = Ti8xPartCount(calcType, Ti8xEntryTypeId(data, position), ti86FourParts);
        const std::optional<Ti8xEntry> entry = ParseTi8xEntry(data, position, partCount);
        if (!entry) return std::nullopt;
        Ti8xVariable var;
        const auto header = data.subspan(entry->HeaderOffset, entry->HeaderLength);
        var.Header.assign(header.begin(), header.end());
        for (const Ti8xPart& part : entry->Parts) {
            const auto bytes = data.subspan(part.DataOffset, part.Length);
            var.Parts.emplace_back(bytes.begin(), bytes.end());
        }
        file.Variables.push_back(std::move(var));
        position = entry->Next;
    }
    return file;
}

std::string Ti8xReceivedName(uint8_t calcType, std::span<const uint8_t> varHeader) {
    if (!IsTi8xModel(calcType)) return {};
    if (varHeader.size() <= VarHeaderTypeOffset) return Unknown(calcType);
    const std::string name = calcType <= 3 ? Ti82ReceivedName(calcType, varHeader)
                                           : Ti85ReceivedName(calcType, varHeader);
    return SafeFileName(name);
}

bool HasExtension(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (last == "..") return false;
    const std::size_t dot = last.rfind('.');
    return dot != std::string_view::npos && dot > 0;
}

std::string WithGroupExtension(std::string name, uint8_t calcType) {
    if (HasExtension(name)) return name;
    if (calcType < 8) return name + ModelSuffix(calcType, 'G');
    return name + (calcType == 8 ? ".89G" : ".92G");
}

} // namespace lodestrum::files
