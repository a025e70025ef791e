#include "files/ByteOrder.h"
#include "files/MonoImageFile.h"
#include "support/TempDir.h"
#include "transfers/CaptureScreen.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

using namespace lodestrum;
using files::MonoBitmap;
using testkit::TempDir;

namespace {

MonoBitmap Stripes(int width, int height) {
    MonoBitmap image{width, height, {}};
    const int row = (width + 7) / 8;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < row; ++x) image.Bits.push_back(static_cast<uint8_t>(y * 31 + x * 7));
    return image;
}

} // namespace

TEST(MonoBmp, LayoutOfACalculatorScreen) {
    const auto bmp = files::EncodeMonoBmp(Stripes(96, 64));
    ASSERT_EQ(bmp.size(), 62u + 12 * 64);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(files::ReadLe32(bmp, 2), bmp.size());
    EXPECT_EQ(files::ReadLe32(bmp, 10), 62u);
    EXPECT_EQ(files::ReadLe32(bmp, 18), 96u);
    EXPECT_EQ(files::ReadLe32(bmp, 22), 64u);
    EXPECT_EQ(files::ReadLe16(bmp, 28), 1u) << "one bit per pixel";
    // Index 0 black, index 1 white.
    EXPECT_EQ(std::vector<uint8_t>(bmp.begin() + 54, bmp.begin() + 62),
              (std::vector<uint8_t>{0, 0, 0, 0, 255, 255, 255, 0}));
    // The bottom row comes first.
    EXPECT_EQ(bmp[62], static_cast<uint8_t>(63 * 31));
}

TEST(MonoBmp, RoundTripsEveryScreenSizeAndOddWidths) {
    for (auto [w, h] : {std::pair{96, 64}, {128, 64}, {240, 128}, {160, 100}, {13, 3}}) {
        SCOPED_TRACE(w);
        const auto image = Stripes(w, h);
        const auto back = files::DecodeMonoBmp(files::EncodeMonoBmp(image));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->Width, w);
        EXPECT_EQ(back->Height, h);
        EXPECT_EQ(back->Bits, image.Bits);
    }
}

TEST(MonoBmp, TopDownRowsAndAnInvertedPalette) {
    const auto image = Stripes(16, 2);
    auto bmp = files::EncodeMonoBmp(image);
    files::StoreLe32(bmp, 22, static_cast<uint32_t>(-2));
    std::swap(bmp[62], bmp[66]); // rows are 4 bytes: swap the two rows back
    std::swap(bmp[63], bmp[67]);
    for (int i = 0; i < 4; ++i) std::swap(bmp[54 + i], bmp[58 + i]); // white first, then black
    const auto back = files::DecodeMonoBmp(bmp);
    ASSERT_TRUE(back);
    for (std::size_t i = 0; i < image.Bits.size(); ++i)
        EXPECT_EQ(back->Bits[i], static_cast<uint8_t>(~image.Bits[i]));
}

TEST(MonoBmp, DamagedOrForeignFilesAreRefused) {
    const auto good = files::EncodeMonoBmp(Stripes(96, 64));
    struct Case {
        const char* Name;
        std::size_t At;
        uint32_t Value;
    };
    const Case cases[] = {
        {"pixels past the end", 10, 0xFFFFFF00u}, {"absurd width", 18, 0x7FFFFFFFu},
        {"zero height", 22, 0},                   {"eight bits per pixel", 28, 8},
        {"compressed", 30, 1},                    {"header past the end", 14, 0x10000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        auto bad = good;
        if (c.At == 28)
            files::StoreLe16(bad, c.At, static_cast<uint16_t>(c.Value));
        else
            files::StoreLe32(bad, c.At, c.Value);
        EXPECT_FALSE(files::DecodeMonoBmp(bad));
    }
    EXPECT_FALSE(files::DecodeMonoBmp(std::span(good).first(good.size() - 1)));
    EXPECT_FALSE(files::DecodeMonoBmp({}));
}

TEST(MonoPng, ChunksAndChecksums) {
    const auto png = files::EncodeMonoPng(Stripes(240, 128));
    ASSERT_GT(png.size(), 8u + 25 + 12);
    EXPECT_EQ(std::vector<uint8_t>(png.begin(), png.begin() + 8),
              (std::vector<uint8_t>{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}));
    EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
    EXPECT_EQ(png[24], 1) << "bit depth";
    EXPECT_EQ(png[25], 0) << "greyscale";
    // The IEND chunk and its well-known CRC close the file.
    EXPECT_EQ(std::vector<uint8_t>(png.end() - 8, png.end()),
              (std::vector<uint8_t>{'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82}));
    EXPECT_TRUE(files::EncodeMonoPng({10, 10, {}}).empty()) << "too few bits";
}

TEST(MonoPng, ChecksumsMatchKnownValues) {
    const std::string iend = "IEND";
    EXPECT_EQ(files::Crc32({reinterpret_cast<const uint8_t*>(iend.data()), 4}), 0xAE426082u);
    const std::string wiki = "Wikipedia";
    EXPECT_EQ(files::Adler32({reinterpret_cast<const uint8_t*>(wiki.data()), wiki.size()}),
              0x11E60398u);
}

TEST(MonoBmp, RowsArePaddedAndAShortPictureIsRefused) {
    MonoBitmap image{96, 64, std::vector<uint8_t>(12 * 64, 0xFF)};
    image.Bits[0] = 0x7F; // top-left pixel black
    const auto bmp = files::EncodeMonoBmp(image);
    ASSERT_EQ(bmp.size(), 62u + 12 * 64);
    EXPECT_EQ(bmp[62 + 63 * 12], 0x7F) << "the top row is stored last";
    // 20-byte rows (the clipped TI-89 screen) are padded to 4 bytes; 30-byte rows to 32.
    EXPECT_EQ(files::EncodeMonoBmp({160, 100, std::vector<uint8_t>(20 * 100)}).size(),
              62u + 20 * 100);
    EXPECT_EQ(files::EncodeMonoBmp({240, 128, std::vector<uint8_t>(30 * 128)}).size(),
              62u + 32 * 128);
    EXPECT_TRUE(files::EncodeMonoBmp({240, 128, std::vector<uint8_t>(30 * 127)}).empty())
        << "a picture shorter than its size is refused, never read past";
}

TEST(MonoPng, DecodesToTheSamePixels) {
    MonoBitmap image{240, 128, std::vector<uint8_t>(30 * 128)};
    for (std::size_t i = 0; i < image.Bits.size(); ++i)
        image.Bits[i] = static_cast<uint8_t>(i * 37);
    const auto png = files::EncodeMonoPng(image);
    ASSERT_FALSE(png.empty());
    // An independent decoder, where the machine has one.
    if (std::system("python3 -c 'import zlib' 2>/dev/null") != 0) GTEST_SKIP() << "no python3";
    TempDir dir;
    const auto path = dir.Write("s.png", png);
    const std::string script = "import struct,sys,zlib\n"
                               "d=open(sys.argv[1],'rb').read()\n"
                               "assert d[:8]==b'\\x89PNG\\r\\n\\x1a\\n'\n"
                               "p=8;z=b'';h=None\n"
                               "while p<len(d):\n"
                               " n,=struct.unpack('>I',d[p:p+4]);t=d[p+4:p+8];c=d[p+8:p+8+n]\n"
                               " assert zlib.crc32(t+c)==struct.unpack('>I',d[p+8+n:p+12+n])[0]\n"
                               " if t==b'IHDR':h=struct.unpack('>IIBBBBB',c)\n"
                               " if t==b'IDAT':z+=c\n"
                               " p+=12+n\n"
                               "assert h==(240,128,1,0,0,0,0),h\n"
                               "r=zlib.decompress(z)\n"
                               "rows=b''.join(r[i*31+1:i*31+31] for i in range(128))\n"
                               "assert all(r[i*31]==0 for i in range(128))\n"
                               "sys.stdout.write(rows.hex())\n";
    const auto scriptPath =
        dir.Write("check.py", std::vector<uint8_t>(script.begin(), script.end()));
    const std::string command = "python3 '" + scriptPath.string() + "' '" + path.string() + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string hex;
    char buffer[4096];
    while (const auto n = std::fread(buffer, 1, sizeof buffer, pipe))
        hex.append(buffer, n);
    EXPECT_EQ(::pclose(pipe), 0);
    std::string expected;
    char byte[3];
    for (uint8_t b : image.Bits) {
        std::snprintf(byte, sizeof byte, "%02x", b);
        expected += byte;
    }
    EXPECT_EQ(hex, expected);
}

TEST(ScreenImage, SizesByCalcType) {
    struct Case {
        uint8_t CalcType;
        bool Clip;
        int Bytes, Width, Height;
    };
    const Case cases[] = {{0, false, 768, 96, 64},     {3, true, 768, 96, 64},
                          {4, false, 1024, 128, 64},   {7, true, 1024, 128, 64},
                          {8, false, 3840, 240, 128},  {9, true, 3840, 160, 100},
                          {0x73, false, 3840, 240, 128}, {0xFF, true, 3840, 160, 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.CalcType));
        const auto size = transfers::ScreenSizeOf(c.CalcType, c.Clip);
        EXPECT_EQ(size.Bytes, c.Bytes);
        EXPECT_EQ(size.Width, c.Width);
        EXPECT_EQ(size.Height, c.Height);
    }
}
