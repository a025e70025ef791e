// The committed example files are what the builders make today, and read back as described.
#include "ExampleFiles.h"
#include "FileTestSupport.h"

#include "files/Ti89File.h"
#include "files/Ti8xFile.h"

#include <gtest/gtest.h>

namespace lodestrum::files {
namespace {

using ByteVector = std::vector<uint8_t>;

TEST(Examples, CommittedFilesMatchTheBuilders) {
    for (const auto& example : examples::ExampleFiles()) {
        SCOPED_TRACE(example.Name);
        const std::filesystem::path path = std::filesystem::path(LODESTRUM_EXAMPLES) / example.Name;
        ASSERT_TRUE(std::filesystem::exists(path)) << "run make_examples " << LODESTRUM_EXAMPLES;
        EXPECT_EQ(test::ReadBytes(path), example.Bytes)
            << "the builders changed; regenerate with make_examples if that is intended";
        EXPECT_LT(example.Bytes.size(), 2048u);
    }
}

TEST(Examples, Ti8xExamplesReadBackAsDescribed) {
    const struct {
        const char* Name;
        uint8_t CalcType;
        bool FourParts;
        std::vector<std::string> Received;
        std::size_t Parts;
    } cases[] = {
        {"ABC.83P", 3, false, {"ABC.83P"}, 1},
        {"ABC.85P", 5, false, {"ABC.85P"}, 1},
        {"THREE.86G", 6, false, {"A.86N", "B.86N", "P.86P"}, 1},
        {"L1.82L", 2, false, {"L0.82L"}, 1},
        {"Backup.83B", 3, false, {"Backup.83B"}, 3},
        {"Backup.86B", 6, true, {"Backup.86B"}, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const ByteVector image =
            test::ReadBytes(std::filesystem::path(LODESTRUM_EXAMPLES) / c.Name);
        const auto file = ReadTi8xFile(image, c.FourParts);
        ASSERT_TRUE(file);
        EXPECT_EQ(file->CalcType, c.CalcType);
        std::vector<std::string> received;
        for (const Ti8xVariable& var : file->Variables) {
            EXPECT_EQ(var.Parts.size(), c.Parts);
            received.push_back(Ti8xReceivedName(c.CalcType, var.Header));
        }
        EXPECT_EQ(received, c.Received);
    }
}

TEST(Examples, Ti89ExamplesReadBackAsDescribed) {
    const ByteVector single =
        test::ReadBytes(std::filesystem::path(LODESTRUM_EXAMPLES) / "abc.89P");
    const auto table = ReadTi89Table(single);
    ASSERT_TRUE(table);
    EXPECT_EQ(table->Folder, "main");
    ASSERT_EQ(table->Entries.size(), 1u);
    EXPECT_EQ(Ti89ReceivedName(8, table->Entries[0].Name, table->Entries[0].TypeId), "abc.89P");

    const ByteVector group =
        test::ReadBytes(std::filesystem::path(LODESTRUM_EXAMPLES) / "GROUP.89G");
    const auto groupTable = ReadTi89Table(group);
    ASSERT_TRUE(groupTable);
    std::vector<std::string> names;
    for (const Ti89Entry& entry : groupTable->Entries) {
        names.push_back(entry.Name);
        if (entry.TypeId != Ti89FolderTypeId) {
            EXPECT_TRUE(Ti89VariableContents(group, entry.Offset)) << entry.Name;
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"main", "a", "b", "prog", "c"}));
}

} // namespace
} // namespace lodestrum::files
