#include "files/MonoImageFile.h"

#include "files/ByteOrder.h"

#include <algorithm>
#include <array>

namespace lodestrum::files {

namespace {

std::size_t RowBytes(int width) { return static_cast<std::size_t>(width + 7) / 8; }

bool Usable(const MonoBitmap& image) {
    return image.Width > 0 && image.Height > 0 &&
           image.Bits.size() >= RowBytes(image.Width) * static_cast<std::size_t>(image.Height);
}

void AppendBe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void PngChunk(std::vector<uint8_t>& out, const char* type, std::span<const uint8_t> data) {
    AppendBe32(out, static_cast<uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    AppendBe32(out, Crc32({out.data() + start, out.size() - start}));
}

} // namespace

uint32_t Crc32(std::span<const uint8_t> bytes, uint32_t crc) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (uint8_t b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t Adler32(std::span<const uint8_t> bytes) {
    uint32_t a = 1, b = 0;
    for (uint8_t v : bytes) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

std::vector<uint8_t> EncodeMonoBmp(const MonoBitmap& image) {
    if (!Usable(image)) return {};
    const std::size_t row = RowBytes(image.Width);
    const std::size_t stride = (row + 3) / 4 * 4;
    const auto pixelBytes = static_cast<uint32_t>(stride * static_cast<std::size_t>(image.Height));
    const uint32_t offset = 14 + 40 + 8;
    std::vector<uint8_t> out;
    out.reserve(offset + pixelBytes);
    out.push_back('B');
    out.push_back('M');
    AppendLe32(out, offset + pixelBytes);
    AppendLe32(out, 0);
    AppendLe32(out, offset);
    AppendLe32(out, 40);
    AppendLe32(out, static_cast<uint32_t>(image.Width));
    AppendLe32(out, static_cast<uint32_t>(image.Height)); // positive: bottom row first
    AppendLe16(out, 1);
    AppendLe16(out, 1);
    AppendLe32(out, 0); // no compression
    AppendLe32(out, pixelBytes);
    AppendLe32(out, 2835); // 72 dots per inch
    AppendLe32(out, 2835);
    AppendLe32(out, 2);
    AppendLe32(out, 2);
    // Index 0 black, 1 white: the picture's bits go in unchanged.
    for (uint8_t v : {0, 0, 0, 0, 255, 255, 255, 0}) out.push_back(v);
    for (int y = image.Height - 1; y >= 0; --y) {
        const auto* src = image.Bits.data() + row * static_cast<std::size_t>(y);
        out.insert(out.end(), src, src + row);
        out.insert(out.end(), stride - row, 0);
    }
    return out;
}

std::vector<uint8_t> EncodeMonoPng(const MonoBitmap& image) {
    if (!Usable(image)) return {};
    const std::size_t row = RowBytes(image.Width);
    std::vector<uint8_t> raw;
    raw.reserve((row + 1) * static_cast<std::size_t>(image.Height));
    for (int y = 0; y < image.Height; ++y) {
        raw.push_back(0); // filter: none
        const auto* src = image.Bits.data() + row * static_cast<std::size_t>(y);
        raw.insert(raw.end(), src, src + row);
    }
    // Stored deflate blocks: no compressor needed, and a screen stays small anyway.
    std::vector<uint8_t> z = {0x78, 0x01};
    std::size_t pos = 0;
    do {
        const std::size_t n = std::min<std::size_t>(raw.size() - pos, 65535);
        z.push_back(pos + n == raw.size() ? 1 : 0);
        AppendLe16(z, static_cast<uint16_t>(n));
        AppendLe16(z, static_cast<uint16_t>(~n & 0xFFFF));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(pos),
                 raw.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
    } while (pos < raw.size());
    AppendBe32(z, Adler32(raw));

    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> header;
    AppendBe32(header, static_cast<uint32_t>(image.Width));
    AppendBe32(header, static_cast<uint32_t>(image.Height));
    for (uint8_t v : {1, 0, 0, 0, 0}) header.push_back(v); // 1-bit grey, no interlace
    PngChunk(out, "IHDR", header);
    PngChunk(out, "IDAT", z);
    PngChunk(out, "IEND", {});
    return out;
}

std::optional<MonoBitmap> DecodeMonoBmp(std::span<const uint8_t> file) {
    if (file.size() < 14 + 40 || file[0] != 'B' || file[1] != 'M') return std::nullopt;
    const uint32_t pixelOffset = ReadLe32(file, 10);
    const uint32_t infoSize = ReadLe32(file, 14);
    if (infoSize < 40 || !FitsInside(file.size(), 14, infoSize)) return std::nullopt;
    const auto width = static_cast<int32_t>(ReadLe32(file, 18));
    const auto rawHeight = static_cast<int32_t>(ReadLe32(file, 22));
    const uint16_t planes = ReadLe16(file, 26), bits = ReadLe16(file, 28);
    const uint32_t compression = ReadLe32(file, 30);
    uint32_t colours = ReadLe32(file, 46);
    if (planes != 1 || bits != 1 || compression != 0) return std::nullopt;
    if (width <= 0 || width > MaxMonoSide || rawHeight == 0 || rawHeight < -MaxMonoSide ||
        rawHeight > MaxMonoSide)
        return std::nullopt;
    if (colours == 0 || colours > 2) colours = 2;
    const std::size_t table = 14 + static_cast<std::size_t>(infoSize);
    if (!FitsInside(file.size(), table, 4 * colours)) return std::nullopt;
    bool white[2] = {false, true};
    for (uint32_t i = 0; i < colours; ++i) {
        const auto* c = file.data() + table + 4 * i; // blue, green, red, unused
        white[i] = c[0] * 114 + c[1] * 587 + c[2] * 299 > 128 * 1000;
    }

    const bool bottomUp = rawHeight > 0;
    const int height = bottomUp ? rawHeight : -rawHeight;
    const std::size_t row = RowBytes(width);
    const std::size_t stride = (row + 3) / 4 * 4;
    if (!FitsInside(file.size(), pixelOffset, stride * static_cast<std::size_t>(height)))
        return std::nullopt;

    MonoBitmap image;
    image.Width = width;
    image.Height = height;
    image.Bits.resize(row * static_cast<std::size_t>(height));
    const bool invert = !white[1] && white[0];
    const bool flat = white[0] == white[1];
    for (int y = 0; y < height; ++y) {
        const std::size_t source = pixelOffset + stride * static_cast<std::size_t>(bottomUp ? height - 1 - y : y);
        for (std::size_t i = 0; i < row; ++i) {
            uint8_t b = file[source + i];
            if (flat) b = white[0] ? 0xFF : 0x00;
            else if (invert) b = static_cast<uint8_t>(~b);
            image.Bits[row * static_cast<std::size_t>(y) + i] = b;
        }
    }
    return image;
}

} // namespace lodestrum::files
