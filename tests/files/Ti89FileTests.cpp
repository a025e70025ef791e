#include "FileTestSupport.h"

#include "files/Ti89File.h"

#include <gtest/gtest.h>

namespace lodestrum::files {
namespace {

using test::Bytes;
using ByteVector = std::vector<uint8_t>;

ByteVector Packet(ByteVector lead, ByteVector contents) {
    lead.push_back(static_cast<uint8_t>(contents.size() >> 8));
    lead.push_back(static_cast<uint8_t>(contents.size() & 0xFF));
    lead.insert(lead.end(), contents.begin(), contents.end());
    return lead;
}

uint32_t Le32(const ByteVector& bytes, std::size_t at) {
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
           (uint32_t(bytes[at + 3]) << 24);
}

TEST(Ti89Build, SingleFileIsLaidOutByteForByte) {
    const Ti89Variable var{"x", 0x00, Packet({0x0A, 0x0B, 0x0C, 0x0D}, {0x11, 0x22})};
    const ByteVector file = BuildTi89SingleFile(8, false, var);

    ByteVector expected = Bytes("**TI89**");
    expected.insert(expected.end(), {0x01, 0x00, 'm', 'a', 'i', 'n', 0, 0, 0, 0});
    expected.insert(expected.end(), 40, 0x00);
    expected.insert(expected.end(),
                    {0x01, 0x00, 82, 0, 0, 0, 'x', 0, 0, 0, 0, 0, 0, 0, 0x00, 0, 0, 0});
    expected.insert(expected.end(), {92, 0, 0, 0, 0xA5, 0x5A});
    expected.insert(expected.end(), {0, 0, 0, 0, 0x00, 0x02, 0x11, 0x22, 0x35, 0x00});
    EXPECT_EQ(file, expected);
    EXPECT_EQ(file.size(), var.PacketData.size() + 84);
}

TEST(Ti89Build, SingleFileKeepsFolderAndFullLengthNames) {
    const Ti89Variable var{"abcdefgh\\ijklmnop", 0x12, Packet({0, 0, 0, 0}, {1, 2, 3})};
    const ByteVector file = BuildTi89SingleFile(9, true, var);
    EXPECT_EQ(ByteVector(file.begin(), file.begin() + 8), Bytes("**TI92**"));
    EXPECT_EQ(ByteVector(file.begin() + 10, file.begin() + 18), Bytes("abcdefgh"));
    EXPECT_EQ(file[18], 0x00);
    EXPECT_EQ(ByteVector(file.begin() + 64, file.begin() + 72), Bytes("ijklmnop"));
    EXPECT_EQ(file[72], 0x12);

    const auto table = ReadTi89Table(file);
    ASSERT_TRUE(table);
    EXPECT_EQ(table->Folder, "abcdefgh");
    ASSERT_EQ(table->Entries.size(), 1u);
    EXPECT_EQ(table->Entries[0].Name, "ijklmnop");
    EXPECT_EQ(table->Entries[0].Offset, Ti89SingleBlockOffset);
    const auto contents = Ti89VariableContents(file, table->Entries[0].Offset);
    ASSERT_TRUE(contents);
    EXPECT_EQ(ByteVector(contents->begin(), contents->end()), (ByteVector{1, 2, 3}));
}

TEST(Ti89Build, ShortPacketIsPaddedToAnEmptyVariable) {
    const ByteVector file = BuildTi89SingleFile(8, false, {"x", 0x00, {0x01, 0x02}});
    EXPECT_EQ(file.size(), 82u + 6 + 2);
    EXPECT_EQ(Le32(file, 76), file.size());
    const auto contents = Ti89VariableContents(file, 82);
    ASSERT_TRUE(contents);
    EXPECT_TRUE(contents->empty());
}

TEST(Ti89Build, GroupFileInsertsFolderEntriesAndKeepsLeadingBytes) {
    const std::vector<Ti89Variable> vars = {
        {"a", 0x00, Packet({1, 2, 3, 4}, {0x55})},
        {"b", 0x04, Packet({0, 0, 0, 0}, {0x66, 0x77})},
        {"prog\\c", 0x12, Packet({9, 9, 9, 9}, {})},
    };
    const ByteVector file = BuildTi89GroupFile(8, true, vars);
    EXPECT_EQ(ByteVector(file.begin(), file.begin() + 8), Bytes("**TI92P*"));
    EXPECT_EQ(ByteVector(file.begin() + 10, file.begin() + 18), ByteVector(8, 0));
    ByteVector comment = Bytes("File saved using Lodestrum");
    comment.resize(40, 0x00);
    EXPECT_EQ(ByteVector(file.begin() + 18, file.begin() + 58), comment);
    EXPECT_EQ(file[58] | (file[59] << 8), 5);

    const std::size_t header = 66 + 16 * 5;
    const struct {
        const char* Name;
        uint8_t TypeId;
        uint32_t Offset;
    } entries[] = {{"main", 0x1F, header},
                   {"a", 0x00, header},
                   {"b", 0x04, header + 9},
                   {"prog", 0x1F, header + 19},
                   {"c", 0x12, header + 19}};
    const auto table = ReadTi89Table(file);
    ASSERT_TRUE(table);
    ASSERT_EQ(table->Entries.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(entries[i].Name);
        EXPECT_EQ(table->Entries[i].Name, entries[i].Name);
        EXPECT_EQ(table->Entries[i].TypeId, entries[i].TypeId);
        EXPECT_EQ(table->Entries[i].Offset, entries[i].Offset);
        EXPECT_EQ(ByteVector(file.begin() + 60 + 16 * i + 13, file.begin() + 60 + 16 * i + 16),
                  ByteVector(3, 0));
    }
    EXPECT_EQ(Le32(file, 60 + 16 * 5), file.size());
    EXPECT_EQ(file[64 + 16 * 5], 0xA5);
    EXPECT_EQ(file[65 + 16 * 5], 0x5A);
    ASSERT_EQ(file.size(), header + 9 + 10 + 8);
    // Block of a: the packet as it came, then 1 + 2 + 3 + 4 + 1 + 0x55.
    EXPECT_EQ(ByteVector(file.begin() + header, file.begin() + header + 9),
              (ByteVector{1, 2, 3, 4, 0, 1, 0x55, 0x60, 0x00}));
    const auto c = Ti89VariableContents(file, entries[4].Offset);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->empty());
}

TEST(Ti89Build, FolderEntryOnEveryChangeOfFolder) {
    const struct {
        std::vector<std::string> Names;
        std::vector<std::string> Entries;
    } cases[] = {
        {{"main\\a", "b", "main\\c"}, {"main", "a", "b", "c"}},
        {{"main\\a", "prog\\b", "main\\c"}, {"main", "a", "prog", "b", "main", "c"}},
        {{"\\a", "b"}, {"", "a", "main", "b"}},
        {{}, {}},
    };
    for (const auto& c : cases) {
        std::vector<Ti89Variable> vars;
        for (const std::string& name : c.Names)
            vars.push_back({name, 0x00, Packet({0, 0, 0, 0}, {1})});
        const auto table = ReadTi89Table(BuildTi89GroupFile(8, false, vars));
        ASSERT_TRUE(table);
        std::vector<std::string> names;
        for (const Ti89Entry& entry : table->Entries)
            names.push_back(entry.Name);
        EXPECT_EQ(names, c.Entries);
    }
}

TEST(Ti89Names, SignaturesBothWays) {
    EXPECT_EQ(Ti89Signature(8, false), "**TI89**");
    EXPECT_EQ(Ti89Signature(8, true), "**TI92P*");
    EXPECT_EQ(Ti89Signature(9, false), "**TI92**");
    EXPECT_EQ(Ti89Signature(9, true), "**TI92**");

    const struct {
        const char* Signature;
        std::optional<uint8_t> CalcType;
    } cases[] = {{"**TI89**", 8},
                 {"**TI92P*", 8},
                 {"**TI92**", 9},
                 {"**TI83P*", 8},
                 {"**TI83**", std::nullopt},
                 {"**TIFL**", std::nullopt},
                 {"**TI89", std::nullopt},
                 {"", std::nullopt}};
    for (const auto& c : cases)
        EXPECT_EQ(Ti89CalcTypeFromSignature(Bytes(c.Signature)), c.CalcType) << c.Signature;
}

TEST(Ti89Names, SplitFolderAndName) {
    const struct {
        const char* Full;
        const char* Folder;
        const char* Name;
    } cases[] = {{"prog\\abc", "prog", "abc"},
                 {"abc", "main", "abc"},
                 {"\\x", "", "x"},
                 {"a\\b\\c", "a", "b\\c"},
                 {"", "main", ""},
                 {"x\\", "x", ""},
                 {"longfolder9\\longname99", "longfold", "longname"},
                 {"abcdefghij", "main", "abcdefgh"}};
    for (const auto& c : cases) {
        const auto [folder, name] = SplitTi89Name(c.Full);
        EXPECT_EQ(folder, c.Folder) << c.Full;
        EXPECT_EQ(name, c.Name) << c.Full;
    }
}

TEST(Ti89Names, ReceivedNames) {
    const char letters[] = "EEEELLMMKKDTSGFIIIPFMTTTTTTTT_BBBZPPPP";
    for (uint8_t type = 0; type <= 0x25; ++type) {
        if (type == 0x1D) continue;
        EXPECT_EQ(Ti89ReceivedName(8, "x", type), std::string("x.89") + letters[type]) << int(type);
        EXPECT_EQ(Ti89ReceivedName(9, "x", type), std::string("x.92") + letters[type]) << int(type);
    }
    const struct {
        uint8_t CalcType;
        const char* Name;
        uint8_t TypeId;
        const char* Result;
    } cases[] = {
        {8, "prog\\abc", 0x12, "abc.89P"},
        {9, "abc", 0x1D, "Backup.92B"},
        {8, "abc", 0x1D, "Backup.89B"},
        {8, "abc", 0x26, "abc.89_"},
        {9, "abc", 0xFF, "abc.92_"},
        {8, "abcdefghij", 0x12, "abcdefgh.89P"},
        {8, "a/b", 0x12, "a_b.89P"},
        {8, "f\\..", 0x00, "...89E"},
        {8, "a\\b\\c", 0x00, "b\\c.89E"},
        {3, "abc", 0x12, ""},
        {10, "abc", 0x12, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Ti89ReceivedName(c.CalcType, c.Name, c.TypeId), c.Result) << c.Name;
}

TEST(Ti89Read, RefusesTablesAndBlocksPastTheImage) {
    ByteVector file = BuildTi89GroupFile(8, false, {{"a", 0, Packet({0, 0, 0, 0}, {1, 2})}});
    EXPECT_TRUE(ReadTi89Table(file));
    EXPECT_FALSE(ReadTi89Table(ByteVector(file.begin(), file.begin() + 59)));
    // Exactly the table, nothing after it: still a table.
    EXPECT_TRUE(ReadTi89Table(ByteVector(file.begin(), file.begin() + 60 + 32)));
    EXPECT_FALSE(ReadTi89Table(ByteVector(file.begin(), file.begin() + 60 + 31)));
    ByteVector tooMany = file;
    tooMany[58] = 0xFF;
    tooMany[59] = 0xFF;
    EXPECT_FALSE(ReadTi89Table(tooMany));

    const uint32_t block = 66 + 32;
    EXPECT_TRUE(Ti89VariableContents(file, block));
    EXPECT_FALSE(Ti89VariableContents(ByteVector(file.begin(), file.begin() + block + 7), block));
    EXPECT_TRUE(Ti89VariableContents(ByteVector(file.begin(), file.begin() + block + 8), block));
    EXPECT_FALSE(Ti89VariableContents(ByteVector(file.begin(), file.begin() + block + 5), block));
    EXPECT_FALSE(Ti89VariableContents(file, static_cast<uint32_t>(file.size())));
    EXPECT_FALSE(Ti89VariableContents(file, 0xFFFFFFFF));
    ByteVector bigSize = file;
    bigSize[block + 4] = 0xFF;
    EXPECT_FALSE(Ti89VariableContents(bigSize, block));
}

} // namespace
} // namespace lodestrum::files
