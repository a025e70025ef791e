// Readers against damaged images: every prefix and every single-byte change of valid files.
// Each image is copied into a buffer of its exact size, so a read past it trips AddressSanitizer.
#include "ExampleFiles.h"
#include "FileTestSupport.h"

#include "files/FlashFile.h"
#include "files/Ti89File.h"
#include "files/Ti8xFile.h"

#include <gtest/gtest.h>

namespace lodestrum::files {
namespace {

using ByteVector = std::vector<uint8_t>;

// What ReadTi8xFile accepts covers the data section exactly: rebuilding it gives the same bytes.
void CheckTi8xReaders(const ByteVector& image) {
    for (bool fourParts : {false, true}) {
        const auto file = ReadTi8xFile(image, fourParts);
        if (!file) continue;
        const ByteVector rebuilt =
            BuildTi8xFile(file->CalcType, Ti8xComment::Saved, file->Variables);
        ASSERT_EQ(rebuilt.size(), image.size());
        EXPECT_TRUE(std::equal(rebuilt.begin() + Ti8xDataOffset, rebuilt.end() - 2,
                               image.begin() + Ti8xDataOffset));
    }
    for (std::size_t position = Ti8xDataOffset; position < image.size();) {
        const auto entry = ParseTi8xEntry(image, position,
                                          Ti8xPartCount(6, Ti8xEntryTypeId(image, position), true));
        if (!entry) break;
        ASSERT_LE(entry->Next, image.size());
        ASSERT_GT(entry->Next, position);
        Ti8xVariableName(image[5] - '0',
                         std::span(image).subspan(entry->HeaderOffset, entry->HeaderLength));
        Ti8xReceivedName(6, std::span(image).subspan(entry->HeaderOffset, entry->HeaderLength));
        position = entry->Next;
    }
}

void CheckTi89Readers(const ByteVector& image) {
    const auto table = ReadTi89Table(image);
    if (!table) return;
    EXPECT_LE(Ti89TableOffset + Ti89EntrySize * table->Entries.size(), image.size());
    for (const Ti89Entry& entry : table->Entries) {
        EXPECT_LE(entry.Name.size(), Ti89NameSize);
        const auto contents = Ti89VariableContents(image, entry.Offset);
        if (contents) {
            EXPECT_GE(contents->data(), image.data() + entry.Offset);
            EXPECT_LE(contents->data() + contents->size(), image.data() + image.size());
        }
    }
}

void CheckFlashReaders(const ByteVector& image) {
    std::size_t start = 0;
    for (int block = 0; block < 4; ++block) {
        const auto header = ReadFlashHeader(image, start);
        if (!header || !FlashDataInside(image, *header)) return;
        EXPECT_LE(header->Name.size(), FlashNameMax);
        start = header->NextBlock();
        HasFullFlashSignature(image, start);
    }
}

void CheckAllReaders(const ByteVector& image) {
    CheckTi8xReaders(image);
    CheckTi89Readers(image);
    CheckFlashReaders(image);
}

std::vector<examples::ExampleFile> Samples() {
    std::vector<examples::ExampleFile> samples = examples::ExampleFiles();
    ByteVector flash(78, 0);
    const std::string_view head = "**TIFL**";
    std::copy(head.begin(), head.end(), flash.begin());
    flash[16] = 7;
    std::copy_n("License", 7, flash.begin() + 17);
    flash[74] = 2;
    flash.insert(flash.end(), {0xAB, 0xCD});
    ByteVector app = flash;
    app[16] = 40; // runs into the device type
    app[74] = 3;
    app.push_back(0xEF);
    flash.insert(flash.end(), app.begin(), app.end());
    samples.push_back({"flash", flash});
    return samples;
}

TEST(DamagedImages, EveryPrefixIsRefusedOrReadInsideTheImage) {
    for (const auto& sample : Samples()) {
        SCOPED_TRACE(sample.Name);
        for (std::size_t size = 0; size <= sample.Bytes.size(); ++size) {
            const ByteVector prefix(sample.Bytes.begin(), sample.Bytes.begin() + size);
            CheckAllReaders(prefix);
            if (size < sample.Bytes.size() && sample.Name.find(".8") != std::string::npos &&
                sample.Name.find(".89") == std::string::npos) {
                // A cut TI-8x file reads at most as the entries wholly before the cut.
                const auto full = ReadTi8xFile(sample.Bytes, true);
                const auto cut = ReadTi8xFile(prefix, true);
                ASSERT_TRUE(full);
                if (cut) {
                    ASSERT_LT(cut->Variables.size(), full->Variables.size());
                    for (std::size_t i = 0; i < cut->Variables.size(); ++i)
                        EXPECT_EQ(cut->Variables[i].Parts, full->Variables[i].Parts);
                }
            }
        }
    }
}

TEST(DamagedImages, EverySingleByteChangeIsRefusedOrReadInsideTheImage) {
    for (const auto& sample : Samples()) {
        SCOPED_TRACE(sample.Name);
        for (std::size_t at = 0; at < sample.Bytes.size(); ++at) {
            for (uint8_t value : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t(sample.Bytes[at] + 1)}) {
                ByteVector changed = sample.Bytes;
                changed[at] = value;
                CheckAllReaders(changed);
            }
        }
    }
}

TEST(DamagedImages, ValidSamplesReadWhole) {
    for (const auto& sample : Samples()) {
        SCOPED_TRACE(sample.Name);
        const bool ti89 = sample.Name.find(".89") != std::string::npos;
        const bool flash = sample.Name == "flash" || sample.Name.ends_with(".89k");
        if (sample.Name.ends_with(".tib"))
            continue; // a bare image: nothing in it is read
        if (flash)
            EXPECT_TRUE(ReadFlashHeader(sample.Bytes, 0));
        else if (ti89)
            EXPECT_TRUE(ReadTi89Table(sample.Bytes));
        else
            EXPECT_TRUE(ReadTi8xFile(sample.Bytes, true));
    }
}

} // namespace
} // namespace lodestrum::files
