#include "ExampleFiles.h"

#include "files/Ti89File.h"
#include "files/Ti8xFile.h"

namespace lodestrum::examples {

namespace {

using files::Ti89Variable;
using files::Ti8xComment;
using files::Ti8xVariable;
using Bytes = std::vector<uint8_t>;

void AppendLe16(Bytes& out, std::size_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

// A program's data: its 16-bit length, then the bytes.
Bytes ProgramData(const Bytes& tokens) {
    Bytes data;
    AppendLe16(data, tokens.size());
    data.insert(data.end(), tokens.begin(), tokens.end());
    return data;
}

// TI-82/83 VarHeader: size, type ID, 8-byte name padded with NUL.
Bytes Ti82Header(std::size_t size, uint8_t typeId, const Bytes& name) {
    Bytes header;
    AppendLe16(header, size);
    header.push_back(typeId);
    header.insert(header.end(), name.begin(), name.end());
    header.resize(11, 0x00);
    return header;
}

// TI-85/86 VarHeader: size, type ID, name length, name; the TI-86 pads the name to 8 with blanks.
Bytes Ti85Header(std::size_t size, uint8_t typeId, const std::string& name, bool pad) {
    Bytes header;
    AppendLe16(header, size);
    header.push_back(typeId);
    header.push_back(static_cast<uint8_t>(name.size()));
    for (char c : name)
        header.push_back(static_cast<uint8_t>(c));
    if (pad) header.resize(12, ' ');
    return header;
}

// Backup VarHeader: the three part sizes around the type ID, then two bytes kept as they are.
Bytes BackupHeader(uint8_t typeId, const std::vector<Bytes>& parts) {
    Bytes header;
    AppendLe16(header, parts[0].size());
    header.push_back(typeId);
    AppendLe16(header, parts[1].size());
    AppendLe16(header, parts[2].size());
    header.push_back(0x00);
    header.push_back(0x80);
    return header;
}

Bytes Pattern(std::size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + 7 * i);
    return bytes;
}

Ti8xVariable Backup(uint8_t typeId, std::vector<Bytes> parts) {
    return {BackupHeader(typeId, parts), std::move(parts)};
}

// A TI-89 data packet's data: 4 leading zero bytes, S big-endian, contents.
Bytes Ti89Packet(const Bytes& contents) {
    Bytes data(4, 0x00);
    data.push_back(static_cast<uint8_t>(contents.size() >> 8));
    data.push_back(static_cast<uint8_t>(contents.size() & 0xFF));
    data.insert(data.end(), contents.begin(), contents.end());
    return data;
}

// A FLASH block: the 78-byte header (date 12/11/2026, device type 0x98: TI-89) and its data.
Bytes FlashBlock(const std::string& name, uint8_t dataType, const Bytes& data) {
    Bytes block(78, 0x00);
    const char* signature = "**TIFL**";
    for (int i = 0; i < 8; ++i)
        block[i] = static_cast<uint8_t>(signature[i]);
    block[12] = 0x12;
    block[13] = 0x11;
    block[14] = 0x20;
    block[15] = 0x26;
    block[16] = static_cast<uint8_t>(name.size());
    for (std::size_t i = 0; i < name.size() && i < 31; ++i)
        block[17 + i] = static_cast<uint8_t>(name[i]);
    block[48] = 0x98;
    block[49] = dataType;
    for (int i = 0; i < 4; ++i)
        block[74 + i] = static_cast<uint8_t>((data.size() >> (8 * i)) & 0xFF);
    block.insert(block.end(), data.begin(), data.end());
    return block;
}

} // namespace

std::vector<ExampleFile> ExampleFiles() {
    std::vector<ExampleFile> files;

    const Bytes ti83Program = ProgramData({0xDE, 0x2A, 0x48, 0x49, 0x2A}); // Disp "HI"
    files.push_back(
        {"ABC.83P", files::BuildTi8xFile(
                        3, Ti8xComment::Transferred,
                        {{Ti82Header(ti83Program.size(), 0x05, {'A', 'B', 'C'}), {ti83Program}}})});

    const Bytes ti85Program = ProgramData({0x48, 0x49, 0x3A, 0x0D});
    files.push_back(
        {"ABC.85P", files::BuildTi8xFile(
                        5, Ti8xComment::Transferred,
                        {{Ti85Header(ti85Program.size(), 0x12, "ABC", false), {ti85Program}}})});

    const Bytes one = {0x00, 0x00, 0xFC, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    const Bytes two = {0x00, 0x00, 0xFC, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    const Bytes ti86Program = ProgramData({0x41, 0x2B, 0x42});
    files.push_back(
        {"THREE.86G",
         files::BuildTi8xFile(6, Ti8xComment::Saved,
                              {{Ti85Header(one.size(), 0x00, "A", true), {one}},
                               {Ti85Header(two.size(), 0x00, "B", true), {two}},
                               {Ti85Header(ti86Program.size(), 0x12, "P", true), {ti86Program}}})});

    Bytes list = {0x02, 0x00};
    for (uint8_t mantissa : {0x10, 0x20}) {
        const Bytes real = {0x00, 0x80, mantissa, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
        list.insert(list.end(), real.begin(), real.end());
    }
    files.push_back(
        {"L1.82L", files::BuildTi8xFile(2, Ti8xComment::Transferred,
                                        {{Ti82Header(list.size(), 0x01, {0x5D, 0x00}), {list}}})});

    files.push_back(
        {"Backup.83B", files::BuildTi8xFile(3, Ti8xComment::Transferred,
                                            {Backup(0x13, {Pattern(16, 0x11), Pattern(8, 0x22),
                                                           Pattern(12, 0x33)})})});

    files.push_back({"Backup.86B",
                     files::BuildTi8xFile(6, Ti8xComment::Transferred,
                                          {Backup(0x1D, {Pattern(16, 0x44), Pattern(8, 0x55),
                                                         Pattern(12, 0x66), Pattern(6, 0x77)})})});

    const Bytes ti89Program = {0x00, 0x00, 0x00, 0x00, 0xE9, 0x12, 0xE4, 0x00, 0xE8, 0xDC};
    files.push_back(
        {"abc.89P", files::BuildTi89SingleFile(
                        8, false, Ti89Variable{"main\\abc", 0x12, Ti89Packet(ti89Program)})});

    files.push_back({"GROUP.89G", files::BuildTi89GroupFile(
                                      8, false,
                                      {Ti89Variable{"a", 0x00, Ti89Packet({0x01, 0x1F})},
                                       Ti89Variable{"b", 0x00, Ti89Packet({0x02, 0x1F})},
                                       Ti89Variable{"prog\\c", 0x12, Ti89Packet(ti89Program)}})});

    // A licence block in front of the application, as shipped applications have.
    Bytes app = FlashBlock("License", 0x24, Pattern(40, 0x20));
    const Bytes code = FlashBlock("hello", 0x24, Pattern(300, 0x5A));
    app.insert(app.end(), code.begin(), code.end());
    files.push_back({"hello.89k", app});

    // A .tib is a bare operating system image: no header at all.
    files.push_back({"tiny.tib", Pattern(1000, 0x3C)});
    return files;
}

} // namespace lodestrum::examples
