#include "FileTestSupport.h"

#include "files/Ti8xFile.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace lodestrum::files {
namespace {

using test::Bytes;
using ByteVector = std::vector<uint8_t>;

ByteVector Ti83Header(uint16_t size, uint8_t typeId, std::string_view name) {
    ByteVector header = {static_cast<uint8_t>(size & 0xFF), static_cast<uint8_t>(size >> 8),
                         typeId};
    header.insert(header.end(), name.begin(), name.end());
    header.resize(11, 0x00);
    return header;
}

ByteVector BackupHeader(uint8_t typeId, uint16_t a, uint16_t b, uint16_t c) {
    return {static_cast<uint8_t>(a),
            static_cast<uint8_t>(a >> 8),
            typeId,
            static_cast<uint8_t>(b),
            static_cast<uint8_t>(b >> 8),
            static_cast<uint8_t>(c),
            static_cast<uint8_t>(c >> 8),
            0x00,
            0x00};
}

TEST(Ti8xBuild, SmallFileIsLaidOutByteForByte) {
    const ByteVector header = Ti83Header(2, 0x05, "AB");
    const ByteVector file = BuildTi8xFile(3, Ti8xComment::Transferred, {{header, {{0xAA, 0xBB}}}});

    ByteVector expected = Bytes("**TI83**");
    expected.insert(expected.end(), {0x1A, 0x0A, 0x00});
    const ByteVector comment = Bytes("File transferd using Lodestrum");
    expected.insert(expected.end(), comment.begin(), comment.end());
    expected.push_back(0x00);
    expected.insert(expected.end(), 11, ' ');
    expected.insert(expected.end(), {17, 0x00, 11, 0x00});
    expected.insert(expected.end(), header.begin(), header.end());
    expected.insert(expected.end(), {0x02, 0x00, 0xAA, 0xBB});
    // 0x0B + (0x02 + 0x05 + 'A' + 'B') + 0x02 + 0xAA + 0xBB = 0x01FC
    expected.insert(expected.end(), {0xFC, 0x01});
    EXPECT_EQ(file, expected);
}

TEST(Ti8xBuild, SignatureAndByteNineFollowTheModel) {
    const struct {
        uint8_t CalcType;
        const char* Signature;
        uint8_t Byte9;
    } cases[] = {
        {2, "**TI82**", 0x0A}, {3, "**TI83**", 0x0A}, {5, "**TI85**", 0x0C}, {6, "**TI86**", 0x0A}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Signature);
        const ByteVector file = BuildTi8xFile(c.CalcType, Ti8xComment::Saved, {});
        ASSERT_EQ(file.size(), Ti8xEmptyFileSize);
        EXPECT_EQ(ByteVector(file.begin(), file.begin() + 8), Bytes(c.Signature));
        EXPECT_EQ(file[8], 0x1A);
        EXPECT_EQ(file[9], c.Byte9);
        EXPECT_EQ(file[10], 0x00);
    }
}

TEST(Ti8xBuild, CommentIsTextNulThenSpaces) {
    const struct {
        Ti8xComment Kind;
        const char* Text;
        std::size_t Spaces;
    } cases[] = {{Ti8xComment::Transferred, "File transferd using Lodestrum", 11},
                 {Ti8xComment::Saved, "File saved using Lodestrum", 15}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        const ByteVector file = BuildTi8xFile(6, c.Kind, {});
        ByteVector expected = Bytes(c.Text);
        expected.push_back(0x00);
        expected.insert(expected.end(), c.Spaces, ' ');
        ASSERT_EQ(expected.size(), Ti8xCommentSize);
        EXPECT_EQ(ByteVector(file.begin() + 11, file.begin() + 53), expected);
    }
}

TEST(Ti8xBuild, LargeDataSectionKeepsLow16BitsOfItsLengthAndStillReads) {
    const std::vector<ByteVector> parts = {ByteVector(30000, 0x01), ByteVector(30000, 0x02),
                                           ByteVector(30000, 0x03)};
    const Ti8xVariable backup{BackupHeader(0x13, 30000, 30000, 30000), parts};
    const ByteVector file = BuildTi8xFile(3, Ti8xComment::Transferred, {backup});

    const std::size_t dataLength = 2 + 9 + 3 * (2 + 30000);
    ASSERT_EQ(file.size(), dataLength + Ti8xEmptyFileSize);
    EXPECT_EQ(file[53] | (file[54] << 8), dataLength & 0xFFFF);
    // 30000 * (1 + 2 + 3) plus the lengths and header, low 16 bits.
    uint32_t sum = 0;
    for (std::size_t i = Ti8xDataOffset; i < file.size() - 2; ++i)
        sum += file[i];
    EXPECT_EQ(file[file.size() - 2] | (file[file.size() - 1] << 8), sum & 0xFFFF);

    const auto read = ReadTi8xFile(file, false);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->Variables.size(), 1u);
    EXPECT_EQ(read->Variables[0].Parts, parts);
}

TEST(Ti8xBuild, RefusesWhatTheLayoutCannotHold) {
    EXPECT_THROW(BuildTi8xFile(8, Ti8xComment::Saved, {}), std::invalid_argument);
    EXPECT_THROW(BuildTi8xFile(3, Ti8xComment::Saved, {{ByteVector(3), {ByteVector(65536)}}}),
                 std::length_error);
    EXPECT_THROW(BuildTi8xFile(3, Ti8xComment::Saved, {{ByteVector(65536), {ByteVector(1)}}}),
                 std::length_error);
    EXPECT_NO_THROW(BuildTi8xFile(3, Ti8xComment::Saved, {{ByteVector(3), {ByteVector(65535)}}}));
}

TEST(Ti8xModel, BackupTypesAndPartCounts) {
    const struct {
        uint8_t CalcType;
        uint8_t Backup;
    } backups[] = {{2, 0x0F},         {3, 0x13},         {5, 0x1D},         {6, 0x1D},
                   {0, NoBackupType}, {4, NoBackupType}, {8, NoBackupType}, {9, NoBackupType}};
    for (const auto& c : backups)
        EXPECT_EQ(BackupTypeId(c.CalcType), c.Backup) << int(c.CalcType);

    const struct {
        uint8_t CalcType;
        std::optional<uint8_t> TypeId;
        bool FourParts;
        unsigned Parts;
    } counts[] = {
        {3, 0x13, false, 3},
        {3, 0x13, true, 3},
        {3, 0x0F, false, 1},
        {2, 0x0F, false, 3},
        {5, 0x1D, true, 3},
        {6, 0x1D, false, 3},
        {6, 0x1D, true, 4},
        {6, 0x12, true, 1},
        {6, std::nullopt, true, 1},
        // A model without a backup type never takes the "no type" marker for one.
        {8, Ti8xNoTypeId, false, 1},
        {4, 0xFF, false, 1},
    };
    for (const auto& c : counts)
        EXPECT_EQ(Ti8xPartCount(c.CalcType, c.TypeId, c.FourParts), c.Parts)
            << int(c.CalcType) << " " << (c.TypeId ? int(*c.TypeId) : -1);
}

TEST(Ti8xEntryParse, FindsHeaderAndPartsOfABackup) {
    const ByteVector header = BackupHeader(0x1D, 2, 1, 3);
    const ByteVector file =
        BuildTi8xFile(6, Ti8xComment::Transferred, {{header, {{1, 2}, {3}, {4, 5, 6}, {}}}});
    const auto entry = ParseTi8xEntry(file, Ti8xDataOffset, 4);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->Start, 55u);
    EXPECT_EQ(entry->HeaderLength, 9);
    EXPECT_EQ(entry->HeaderOffset, 57u);
    EXPECT_EQ(entry->TypeId, 0x1D);
    ASSERT_EQ(entry->Parts.size(), 4u);
    const std::size_t lengths[] = {2, 1, 3, 0};
    std::size_t at = 66;
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(entry->Parts[i].LengthOffset, at);
        EXPECT_EQ(entry->Parts[i].Length, lengths[i]);
        EXPECT_EQ(entry->Parts[i].DataOffset, at + 2);
        at += 2 + lengths[i];
    }
    EXPECT_EQ(entry->Next, file.size() - 2);
    EXPECT_EQ(Ti8xEntryTypeId(file, Ti8xDataOffset), 0x1D);
}

TEST(Ti8xEntryParse, RefusesEveryEntryThatRunsPastTheImage) {
    const ByteVector entry = {0x03, 0x00, 0x01, 0x00, 0x05, // L = 3, header
                              0x02, 0x00, 0xAA, 0xBB,       // part of 2
                              0x01, 0x00, 0xCC};            // part of 1
    for (std::size_t size = 0; size <= entry.size(); ++size) {
        const ByteVector image(entry.begin(), entry.begin() + size);
        const auto one = ParseTi8xEntry(image, 0, 1);
        const auto two = ParseTi8xEntry(image, 0, 2);
        EXPECT_EQ(one.has_value(), size >= 9) << size;
        EXPECT_EQ(two.has_value(), size == entry.size()) << size;
    }
    // Starts at or past the end, and lengths that overflow an offset sum.
    EXPECT_FALSE(ParseTi8xEntry(entry, entry.size(), 1));
    EXPECT_FALSE(ParseTi8xEntry(entry, std::size_t(-1), 1));
    const ByteVector hugeHeader = {0xFF, 0xFF, 0x00};
    EXPECT_FALSE(ParseTi8xEntry(hugeHeader, 0, 1));
    // An absurd part count is refused by the image, not by an allocation.
    EXPECT_FALSE(ParseTi8xEntry(entry, 0, 4'000'000'000u));
    // Zero parts: only the header has to fit.
    const auto none = ParseTi8xEntry(ByteVector(entry.begin(), entry.begin() + 5), 0, 0);
    ASSERT_TRUE(none);
    EXPECT_EQ(none->Next, 5u);
}

TEST(Ti8xEntryParse, HeaderTooShortForATypeHasNone) {
    // An empty VarHeader (as made from a zero-length VAR packet) followed by one part whose first
    // data byte happens to be the TI-83 backup type.
    const ByteVector image = {0x00, 0x00, 0x02, 0x00, 0x13, 0x00};
    EXPECT_EQ(Ti8xEntryTypeId(image, 0), std::nullopt);
    const auto entry = ParseTi8xEntry(image, 0, 1);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->TypeId, Ti8xNoTypeId);
    EXPECT_EQ(Ti8xEntryTypeId(ByteVector{0x03, 0x00, 0x00, 0x00}, 0), std::nullopt);
}

TEST(Ti8xRead, ReadsWhatWasBuilt) {
    const std::vector<Ti8xVariable> vars = {{Ti83Header(1, 0x00, "A"), {{0x11}}},
                                            {Ti83Header(0, 0x05, "PRGM"), {{}}},
                                            {Ti83Header(2, 0x01, "\x5D\x01"), {{0x22, 0x33}}}};
    const auto read = ReadTi8xFile(BuildTi8xFile(3, Ti8xComment::Saved, vars), false);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->CalcType, 3);
    ASSERT_EQ(read->Variables.size(), vars.size());
    for (std::size_t i = 0; i < vars.size(); ++i) {
        EXPECT_EQ(read->Variables[i].Header, vars[i].Header);
        EXPECT_EQ(read->Variables[i].Parts, vars[i].Parts);
    }
}

TEST(Ti8xRead, FourPartBackupNeedsTheOptionOnlyOnTheTi86) {
    const Ti8xVariable backup{BackupHeader(0x1D, 1, 1, 1), {{1}, {2}, {3}, {4}}};
    const ByteVector ti86 = BuildTi8xFile(6, Ti8xComment::Transferred, {backup});
    const auto four = ReadTi8xFile(ti86, true);
    ASSERT_TRUE(four);
    ASSERT_EQ(four->Variables.size(), 1u);
    EXPECT_EQ(four->Variables[0].Parts.size(), 4u);
    // Without the option the fourth part is taken as an entry of its own, which runs past.
    EXPECT_FALSE(ReadTi8xFile(ti86, false));

    const Ti8xVariable threeParts{BackupHeader(0x1D, 1, 1, 1), {{1}, {2}, {3}}};
    const auto ti85 = ReadTi8xFile(BuildTi8xFile(5, Ti8xComment::Transferred, {threeParts}), true);
    ASSERT_TRUE(ti85);
    EXPECT_EQ(ti85->Variables[0].Parts.size(), 3u);
}

TEST(Ti8xRead, PartCountStaysRaisedAfterABackupEntry) {
    const Ti8xVariable backup{BackupHeader(0x13, 1, 1, 1), {{1}, {2}, {3}}};
    const Ti8xVariable alsoThree{Ti83Header(1, 0x00, "A"), {{7}, {8}, {9}}};
    const auto read =
        ReadTi8xFile(BuildTi8xFile(3, Ti8xComment::Saved, {backup, alsoThree}), false);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->Variables.size(), 2u);
    EXPECT_EQ(read->Variables[1].Parts, alsoThree.Parts);
}

TEST(Ti8xRead, RefusesForeignAndDamagedImages) {
    const ByteVector good =
        BuildTi8xFile(2, Ti8xComment::Transferred, {{Ti83Header(1, 0, "A"), {{5}}}});
    auto with = [&good](std::size_t at, uint8_t value) {
        ByteVector copy = good;
        copy[at] = value;
        return copy;
    };
    const struct {
        const char* What;
        ByteVector Image;
    } cases[] = {
        {"TI-89 signature", with(4, '9')},
        {"FLASH signature", with(4, 'F')},
        {"model digit 4", with(5, '4')},
        {"model digit 9", with(5, '9')},
        {"no **TI", with(0, 'X')},
        {"header length past the section", with(55, 0x40)},
        {"part length into the checksum", with(55 + 2 + 11, 0x02)},
        {"shorter than header and checksum", ByteVector(good.begin(), good.begin() + 56)},
        {"trailing byte before the checksum",
         [&good] {
             ByteVector copy = good;
             copy.insert(copy.end() - 2, 0x00);
             return copy;
         }()},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(ReadTi8xFile(c.Image, false)) << c.What;

    const auto empty = ReadTi8xFile(BuildTi8xFile(6, Ti8xComment::Saved, {}), false);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->Variables.empty());
    EXPECT_TRUE(ReadTi8xFile(with(6, 'F'), false)) << "only bytes 4 and 5 name the model";
}

TEST(Ti8xNames, VariableNameIsBoundedByTheHeader) {
    const struct {
        uint8_t CalcType;
        ByteVector Header;
        const char* Name;
    } cases[] = {
        {3, Ti83Header(0, 5, "ABC"), "ABC"},
        {2, Ti83Header(0, 5, "ABCDEFGH"), "ABCDEFGH"},
        {3, {0, 0, 5, 'A', 'B'}, "AB"},
        {3, {0, 0, 5}, ""},
        {3, {0, 0, 5, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I'}, "ABCDEFGH"},
        {6, {0, 0, 0x12, 3, 'A', 'B', 'C', 'D', ' ', ' ', ' ', ' '}, "ABC"},
        {5, {0, 0, 0x12, 8, 'A', 'B'}, "AB"},
        {5, {0, 0, 0x12}, ""},
        {6, {0, 0, 0x12, 0}, ""},
        {8, Ti83Header(0, 5, "ABC"), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Ti8xVariableName(c.CalcType, c.Header), c.Name) << int(c.CalcType);
}

ByteVector Ti85Named(uint8_t typeId, std::string_view name) {
    ByteVector header = {0x00, 0x00, typeId, static_cast<uint8_t>(name.size())};
    header.insert(header.end(), name.begin(), name.end());
    return header;
}

TEST(Ti8xNames, ReceivedNamesOfTheTi82AndTi83) {
    const struct {
        uint8_t CalcType;
        ByteVector Header;
        const char* Name;
    } cases[] = {
        {2, Ti83Header(0, 0x01, "\x5D"), "L0.82L"},
        {3, Ti83Header(0, 0x01, "\x5D\x05"), "L5.83L"},
        {2, Ti83Header(0, 0x05, "ABC"), "ABC.82P"},
        {3, Ti83Header(0, 0x06, "ABCDEFGH"), "ABCDEFGH.83P"},
        {2, Ti83Header(0, 0x07, "\x60\x01"), "PIC1.82I"},
        {3, Ti83Header(0, 0x07, "\x60\xFF"), "PIC255.83I"},
        {3, Ti83Header(0, 0x08, "\x61\x0A"), "GDB10.83G"},
        {2, Ti83Header(0, 0x0F, ""), "Backup.82B"},
        {3, Ti83Header(0, 0x0F, ""), "UNKNOWN.83_"},
        {2, Ti83Header(0, 0x13, ""), "UNKNOWN.82_"},
        {3, Ti83Header(0, 0x13, ""), "Backup.83B"},
        {2, Ti83Header(0, 0x00, "A"), "UNKNOWN.82_"},
        {3, Ti83Header(0, 0x04, "\xAA"), "UNKNOWN.83_"},
        // Hostile or short headers.
        {3, Ti83Header(0, 0x05, "A/B"), "A_B.83P"},
        {3, Ti83Header(0, 0x05, "\x01\x02"), "__.83P"},
        {3, {0, 0, 0x01, 0x5D}, "UNKNOWN.83_"},
        {2, {0, 0}, "UNKNOWN.82_"},
        {3, {}, "UNKNOWN.83_"},
        {3, {0, 0, 0x05, 'X'}, "X.83P"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Ti8xReceivedName(c.CalcType, c.Header), c.Name) << c.Name;
}

TEST(Ti8xNames, ReceivedNamesOfTheTi85AndTi86) {
    const char letters[] = "NCVVLLMMKKERSDDDDIPR_RRRRRRR_";
    for (uint8_t type = 0; type < 0x1D; ++type) {
        for (uint8_t calcType : {5, 6}) {
            const std::string expected = std::string("X.8") + char('0' + calcType) + letters[type];
            EXPECT_EQ(Ti8xReceivedName(calcType, Ti85Named(type, "X")), expected) << int(type);
        }
    }
    const struct {
        uint8_t CalcType;
        ByteVector Header;
        const char* Name;
    } cases[] = {
        {5, Ti85Named(0x12, "ABC"), "ABC.85P"},
        {6, Ti85Named(0x1D, "ABC"), "Backup.86B"},
        {5, Ti85Named(0x1D, ""), "Backup.85B"},
        {6, Ti85Named(0x1E, "Q"), "Q.86_"},
        {6, Ti85Named(0xFF, "Q"), "Q.86_"},
        {6, {0, 0, 0x12, 3, 'A', 'B', 'C', ' ', ' ', ' ', ' ', ' '}, "ABC.86P"},
        {6, {0, 0, 0x12, 200, 'A'}, "A.86P"},
        {5, Ti85Named(0x12, ".."), "...85P"},
        {5, Ti85Named(0x12, "a/../b"), "a_.._b.85P"},
        {6, {0, 0}, "UNKNOWN.86_"},
        // No automatic name outside the family.
        {8, Ti85Named(0x12, "ABC"), ""},
        {4, Ti85Named(0x12, "ABC"), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Ti8xReceivedName(c.CalcType, c.Header), c.Name) << c.Name;
}

TEST(Ti8xNames, GroupExtensionOnlyWhenTheLastComponentHasNone) {
    const struct {
        const char* Name;
        uint8_t CalcType;
        const char* Result;
    } cases[] = {
        {"name", 6, "name.86G"},
        {"name", 2, "name.82G"},
        {"name", 3, "name.83G"},
        {"name", 5, "name.85G"},
        {"name", 8, "name.89G"},
        {"name", 9, "name.92G"},
        {"name.txt", 6, "name.txt"},
        {"name.", 6, "name."},
        {"dir.d/name", 3, "dir.d/name.83G"},
        {"dir/.hidden", 3, "dir/.hidden.83G"},
        {"/abs/path/x.86g", 6, "/abs/path/x.86g"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WithGroupExtension(c.Name, c.CalcType), c.Result) << c.Name;
    EXPECT_FALSE(HasExtension(".."));
    EXPECT_FALSE(HasExtension("a/."));
    EXPECT_FALSE(HasExtension(""));
    EXPECT_FALSE(HasExtension("a.b/"));
    EXPECT_TRUE(HasExtension("x.89g"));
}

} // namespace
} // namespace lodestrum::files
