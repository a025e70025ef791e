#include "FileTestSupport.h"

#include "files/FlashFile.h"

#include <gtest/gtest.h>

namespace lodestrum::files {
namespace {

using ByteVector = std::vector<uint8_t>;

ByteVector FlashBlock(std::string_view name, uint8_t nameLength, uint8_t device, uint8_t dataType,
                      const ByteVector& data) {
    ByteVector block(FlashHeaderSize, 0x00);
    const std::string_view signature = "**TIFL**";
    std::copy(signature.begin(), signature.end(), block.begin());
    block[12] = 0x12;
    block[13] = 0x05;
    block[14] = 0x20;
    block[15] = 0x01;
    block[16] = nameLength;
    std::copy(name.begin(), name.end(), block.begin() + 17);
    block[48] = device;
    block[49] = dataType;
    const auto size = static_cast<uint32_t>(data.size());
    for (int i = 0; i < 4; ++i)
        block[74 + i] = static_cast<uint8_t>(size >> (8 * i));
    block.insert(block.end(), data.begin(), data.end());
    return block;
}

TEST(FlashHeaderRead, LicenceBlockThenApplication) {
    ByteVector file = FlashBlock("License", 7, 0x98, 0x23, ByteVector(5, 0xAA));
    const ByteVector app = FlashBlock("MyApp", 5, 0x88, 0x24, ByteVector(300, 0x55));
    file.insert(file.end(), app.begin(), app.end());

    const auto licence = ReadFlashHeader(file, 0);
    ASSERT_TRUE(licence);
    EXPECT_TRUE(licence->IsLicense());
    EXPECT_TRUE(licence->IsAms());
    EXPECT_EQ(licence->DateText, "12/05/2001");
    EXPECT_EQ(licence->DataSize, 5u);
    EXPECT_EQ(licence->DataStart, 78u);
    EXPECT_TRUE(FlashDataInside(file, *licence));
    ASSERT_TRUE(HasFullFlashSignature(file, licence->NextBlock()));

    const auto next = ReadFlashHeader(file, licence->NextBlock());
    ASSERT_TRUE(next);
    EXPECT_FALSE(next->IsLicense());
    EXPECT_EQ(next->Name, "MyApp");
    EXPECT_EQ(next->Start, 83u);
    EXPECT_EQ(next->DeviceType, 0x88);
    EXPECT_EQ(next->DataType, 0x24);
    EXPECT_EQ(next->DataSize, 300u);
    EXPECT_EQ(next->DataStart, 161u);
    EXPECT_TRUE(FlashDataInside(file, *next));
    EXPECT_FALSE(FlashDataInside(ByteVector(file.begin(), file.end() - 1), *next));
}

TEST(FlashHeaderRead, OnlyTheExactNameIsALicence) {
    const struct {
        std::string_view Name;
        uint8_t Length;
        bool Licence;
    } cases[] = {{"License", 7, true},
                 {"license", 7, false},
                 {"License", 6, false},
                 {"Licenses", 8, false},
                 {std::string_view("License\0", 8), 8, false},
                 {"", 0, false}};
    for (const auto& c : cases) {
        const auto header = ReadFlashHeader(FlashBlock(c.Name, c.Length, 0x98, 0, {}), 0);
        ASSERT_TRUE(header);
        EXPECT_EQ(header->IsLicense(), c.Licence) << c.Name << " " << int(c.Length);
    }
}

TEST(FlashHeaderRead, NameLengthIsBoundedByItsField) {
    const std::string longName(31, 'n');
    const auto header = ReadFlashHeader(FlashBlock(longName, 0xFF, 0x98, 0x23, {}), 0);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->Name, longName);
    EXPECT_EQ(header->DeviceType, 0x98);
}

TEST(FlashHeaderRead, RefusesHeadersPastTheImage) {
    const ByteVector block = FlashBlock("App", 3, 0x98, 0, ByteVector(4, 1));
    for (std::size_t size = 0; size < FlashHeaderSize; ++size)
        EXPECT_FALSE(ReadFlashHeader(ByteVector(block.begin(), block.begin() + size), 0)) << size;
    const ByteVector headerOnly(block.begin(), block.begin() + FlashHeaderSize);
    const auto header = ReadFlashHeader(headerOnly, 0);
    ASSERT_TRUE(header);
    EXPECT_FALSE(FlashDataInside(headerOnly, *header));
    EXPECT_TRUE(ReadFlashHeader(block, 4));
    EXPECT_FALSE(ReadFlashHeader(block, 5));
    EXPECT_FALSE(ReadFlashHeader(block, std::size_t(-1)));

    ByteVector huge = block;
    huge[74] = huge[75] = huge[76] = huge[77] = 0xFF;
    const auto hugeHeader = ReadFlashHeader(huge, 0);
    ASSERT_TRUE(hugeHeader);
    EXPECT_EQ(hugeHeader->DataSize, 0xFFFFFFFFu);
    EXPECT_FALSE(FlashDataInside(huge, *hugeHeader));
}

TEST(FlashSignature, AllEightBytesAreCompared) {
    const ByteVector text = test::Bytes("xx**TIFL**");
    EXPECT_TRUE(HasFullFlashSignature(text, 2));
    EXPECT_FALSE(HasFullFlashSignature(text, 0));
    EXPECT_FALSE(HasFullFlashSignature(text, 3));
    EXPECT_FALSE(HasFullFlashSignature(test::Bytes("**TIFL*"), 0));
    EXPECT_FALSE(HasFullFlashSignature(test::Bytes("**TIFL*x"), 0));
    EXPECT_FALSE(HasFullFlashSignature(text, std::size_t(-4)));
}

TEST(FlashDate, TwoHexDigitsPerByte) {
    EXPECT_EQ(FlashDateText(0x12, 0x05, 0x20, 0x01), "12/05/2001");
    EXPECT_EQ(FlashDateText(0x0A, 0x0B, 0x0C, 0x0D), "0A/0B/0C0D");
    EXPECT_EQ(FlashDateText(0xFF, 0x00, 0xFF, 0x00), "FF/00/FF00");
}

} // namespace
} // namespace lodestrum::files
