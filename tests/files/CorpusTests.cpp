// Real files written by calculators and other programs (folder named by LODESTRUM_CORPUS).
#include "FileTestSupport.h"

#include "files/ReceivedName.h"
#include "files/Signature.h"
#include "files/Ti89File.h"
#include "files/Ti8xFile.h"

#include <gtest/gtest.h>

#include <set>

namespace lodestrum::files {
namespace {

namespace fs = std::filesystem;
using ByteVector = std::vector<uint8_t>;

std::vector<fs::path> CorpusFiles(const fs::path& corpus,
                                  std::initializer_list<const char*> folders) {
    std::vector<fs::path> paths;
    for (const char* folder : folders)
        for (const fs::path& path : test::FilesIn(corpus / folder))
            paths.push_back(path);
    return paths;
}

#define REQUIRE_CORPUS(dir)                                                                        \
    const auto dir = test::CorpusDir();                                                            \
    if (!dir) GTEST_SKIP() << "LODESTRUM_CORPUS is not set or not a folder";

uint16_t StoredLe16(const ByteVector& image, std::size_t at) {
    return static_cast<uint16_t>(image[at] | (image[at + 1] << 8));
}

TEST(Corpus, Ti8xFilesWalkToTheirEndAndRebuildByteForByte) {
    REQUIRE_CORPUS(corpus);
    // Files whose stored checksum is known to be wrong (their data are fine).
    const std::set<std::string> badChecksum = {"group.86g", "xx.86n"};
    const auto paths = CorpusFiles(*corpus, {"ti82", "ti83", "ti83p", "ti84p", "ti85", "ti86"});
    ASSERT_FALSE(paths.empty());
    for (const fs::path& path : paths) {
        SCOPED_TRACE(path.string());
        const ByteVector image = test::ReadBytes(path);
        const SignatureInfo signature = ReadSignature(image);
        ASSERT_TRUE(signature.StartsWithTi);
        ASSERT_TRUE(signature.CalcType);

        const auto file = ReadTi8xFile(image, false);
        ASSERT_TRUE(file);
        EXPECT_EQ(file->CalcType, *signature.CalcType);
        EXPECT_FALSE(file->Variables.empty());

        const ByteVector rebuilt =
            BuildTi8xFile(file->CalcType, Ti8xComment::Saved, file->Variables);
        ASSERT_EQ(rebuilt.size(), image.size());
        EXPECT_TRUE(std::equal(rebuilt.begin() + Ti8xDataOffset, rebuilt.end() - 2,
                               image.begin() + Ti8xDataOffset))
            << "data section differs";
        EXPECT_EQ(StoredLe16(rebuilt, Ti8xLengthOffset), StoredLe16(image, Ti8xLengthOffset));
        EXPECT_EQ(rebuilt[9], image[9]);
        if (!badChecksum.count(path.filename().string())) {
            EXPECT_EQ(StoredLe16(rebuilt, rebuilt.size() - 2), StoredLe16(image, image.size() - 2));
        }

        for (const Ti8xVariable& var : file->Variables) {
            const std::string name = Ti8xReceivedName(file->CalcType, var.Header);
            EXPECT_FALSE(name.empty());
            EXPECT_EQ(SafeFileName(name), name);
        }
    }
}

TEST(Corpus, KnownTi8xFilesGiveTheirNames) {
    REQUIRE_CORPUS(corpus);
    const struct {
        const char* Path;
        std::vector<std::string> Display;
        std::vector<std::string> Received;
        std::size_t Parts;
    } cases[] = {
        {"ti83p/Program.8xp", {"SETDATE"}, {"SETDATE.83P"}, 1},
        {"ti82/group.82g", {"A", "B"}, {"UNKNOWN.82_", "UNKNOWN.82_"}, 1},
        {"ti85/GROUP.85G", {"A", "B"}, {"A.85N", "B.85N"}, 1},
        {"ti86/group.86g", {"Y", "X"}, {"Y.86N", "X.86N"}, 1},
        {"ti83/backup.83b", {""}, {"Backup.83B"}, 3},
        {"ti86/backup.86b", {""}, {"Backup.85B"}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        const ByteVector image = test::ReadBytes(*corpus / c.Path);
        const auto file = ReadTi8xFile(image, true);
        ASSERT_TRUE(file);
        std::vector<std::string> display, received;
        for (const Ti8xVariable& var : file->Variables) {
            EXPECT_EQ(var.Parts.size(), c.Parts);
            if (c.Parts == 1)
                display.push_back(Ti8xVariableName(file->CalcType, var.Header));
            else
                display.push_back("");
            received.push_back(Ti8xReceivedName(file->CalcType, var.Header));
        }
        EXPECT_EQ(display, c.Display);
        EXPECT_EQ(received, c.Received);
    }
}

TEST(Corpus, Ti89FilesReadInsideTheImageAndGroupsRebuild) {
    REQUIRE_CORPUS(corpus);
    const auto paths = CorpusFiles(*corpus, {"ti89", "ti92", "tig"});
    ASSERT_FALSE(paths.empty());
    for (const fs::path& path : paths) {
        SCOPED_TRACE(path.string());
        const ByteVector image = test::ReadBytes(path);
        const auto calcType = Ti89CalcTypeFromSignature(image);
        ASSERT_TRUE(calcType);
        const auto table = ReadTi89Table(image);
        ASSERT_TRUE(table);

        // Rebuild a group from what the table says; a real group file must come back unchanged.
        std::vector<Ti89Variable> vars;
        std::string folder = table->Folder;
        bool allInside = true;
        for (const Ti89Entry& entry : table->Entries) {
            if (entry.TypeId == Ti89FolderTypeId) {
                folder = entry.Name;
                continue;
            }
            const auto contents = Ti89VariableContents(image, entry.Offset);
            if (!contents) {
                allInside = false;
                continue;
            }
            const auto first = image.begin() + entry.Offset;
            vars.push_back({folder + "\\" + entry.Name, entry.TypeId,
                            ByteVector(first, first + 6 + contents->size())});
        }
        const bool isGroup =
            !table->Entries.empty() && table->Entries[0].TypeId == Ti89FolderTypeId;
        if (!isGroup) continue;
        ASSERT_TRUE(allInside);
        const ByteVector rebuilt = BuildTi89GroupFile(*calcType, image[6] == 'P', vars);
        ASSERT_EQ(rebuilt.size(), image.size());
        // Blocks byte for byte. The table is compared as read: other writers leave bytes after a
        // name's zero and keep a folder's variable count in entry bytes 13 to 15, none of it read.
        const std::size_t blocks = Ti89TableOffset + Ti89EntrySize * table->Entries.size() + 6;
        EXPECT_TRUE(std::equal(rebuilt.begin() + blocks, rebuilt.end(), image.begin() + blocks))
            << "blocks differ";
        EXPECT_TRUE(std::equal(rebuilt.begin() + blocks - 6, rebuilt.begin() + blocks,
                               image.begin() + blocks - 6))
            << "file size or 0xA5 0x5A differ";
        const auto rebuiltTable = ReadTi89Table(rebuilt);
        ASSERT_TRUE(rebuiltTable);
        ASSERT_EQ(rebuiltTable->Entries.size(), table->Entries.size());
        for (std::size_t i = 0; i < table->Entries.size(); ++i) {
            EXPECT_EQ(rebuiltTable->Entries[i].Name, table->Entries[i].Name);
            EXPECT_EQ(rebuiltTable->Entries[i].TypeId, table->Entries[i].TypeId);
            EXPECT_EQ(rebuiltTable->Entries[i].Offset, table->Entries[i].Offset);
        }
        EXPECT_TRUE(std::equal(rebuilt.begin(), rebuilt.begin() + 8, image.begin()));
    }
}

TEST(Corpus, Ti92BackupIsReadWithoutGoingPastTheImage) {
    REQUIRE_CORPUS(corpus);
    const ByteVector image = test::ReadBytes(*corpus / "ti92/backup.92b");
    ASSERT_FALSE(image.empty());
    // Not a TI-8x file, whatever its first bytes say.
    EXPECT_FALSE(ReadTi8xFile(image, true));
    const auto table = ReadTi89Table(image);
    ASSERT_TRUE(table);
    for (const Ti89Entry& entry : table->Entries) {
        const auto contents = Ti89VariableContents(image, entry.Offset);
        if (contents) {
            EXPECT_LE(contents->data() + contents->size(), image.data() + image.size());
        }
    }
}

} // namespace
} // namespace lodestrum::files
