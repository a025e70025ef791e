#include "cli/ImageFiles.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lodestrum::cli {

namespace {

std::size_t RowBytes(const engine::MonoImage& image) {
    return static_cast<std::size_t>(image.Width + 7) / 8;
}

bool Usable(const engine::MonoImage& image) {
    return image.Width > 0 && image.Height > 0 &&
           image.Bits.size() >= RowBytes(image) * static_cast<std::size_t>(image.Height);
}

void Put16Le(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32Le(std::vector<uint8_t>& out, uint32_t v) {
    Put16Le(out, v & 0xFFFF);
    Put16Le(out, v >> 16);
}
void Put32Be(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void PngChunk(std::vector<uint8_t>& out, const char* type, std::span<const uint8_t> data) {
    Put32Be(out, static_cast<uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    Put32Be(out, Crc32({out.data() + start, out.size() - start}));
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

} // namespace

std::optional<ImageFormat> ImageFormatForPath(std::string_view path) {
    const std::string name = Lower(path.substr(path.find_last_of('/') + 1));
    auto endsWith = [&](std::string_view ext) {
        return name.size() > ext.size() && name.compare(name.size() - ext.size(), ext.size(), ext) == 0;
    };
    if (endsWith(".bmp")) return ImageFormat::Bmp;
    if (endsWith(".png")) return ImageFormat::Png;
    return std::nullopt;
}

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

std::vector<uint8_t> EncodeBmp(const engine::MonoImage& image) {
    if (!Usable(image)) return {};
    const std::size_t row = RowBytes(image);
    const std::size_t stride = (row + 3) / 4 * 4; // rows are padded to 4 bytes
    const uint32_t pixelBytes = static_cast<uint32_t>(stride * image.Height);
    const uint32_t offset = 14 + 40 + 8;
    std::vector<uint8_t> out;
    out.reserve(offset + pixelBytes);
    out.push_back('B');
    out.push_back('M');
    Put32Le(out, offset + pixelBytes);
    Put32Le(out, 0);
    Put32Le(out, offset);
    Put32Le(out, 40);
    Put32Le(out, static_cast<uint32_t>(image.Width));
    Put32Le(out, static_cast<uint32_t>(image.Height)); // positive: bottom row first
    Put16Le(out, 1);
    Put16Le(out, 1);
    Put32Le(out, 0); // no compression
    Put32Le(out, pixelBytes);
    Put32Le(out, 2835); // 72 dots per inch
    Put32Le(out, 2835);
    Put32Le(out, 2);
    Put32Le(out, 2);
    // Index 0 black, 1 white: the picture's bits go in unchanged.
    for (uint8_t v : {0, 0, 0, 0, 255, 255, 255, 0}) out.push_back(v);
    for (int y = image.Height - 1; y >= 0; --y) {
        const auto* src = image.Bits.data() + row * static_cast<std::size_t>(y);
        out.insert(out.end(), src, src + row);
        out.insert(out.end(), stride - row, 0);
    }
    return out;
}

std::vector<uint8_t> EncodePng(const engine::MonoImage& image) {
    if (!Usable(image)) return {};
    const std::size_t row = RowBytes(image);
    std::vector<uint8_t> raw;
    raw.reserve((row + 1) * image.Height);
    for (int y = 0; y < image.Height; ++y) {
        raw.push_back(0); // filter: none
        const auto* src = image.Bits.data() + row * static_cast<std::size_t>(y);
        raw.insert(raw.end(), src, src + row);
    }
    // A zlib stream of stored deflate blocks: no compressor needed, and a
    // screen of at most 3840 bytes stays small anyway.
    std::vector<uint8_t> z = {0x78, 0x01};
    std::size_t pos = 0;
    do {
        const std::size_t n = std::min<std::size_t>(raw.size() - pos, 65535);
        const bool last = pos + n == raw.size();
        z.push_back(last ? 1 : 0);
        Put16Le(z, static_cast<uint32_t>(n));
        Put16Le(z, static_cast<uint32_t>(~n & 0xFFFF));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(pos),
                 raw.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
    } while (pos < raw.size());
    Put32Be(z, Adler32(raw));

    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> header;
    Put32Be(header, static_cast<uint32_t>(image.Width));
    Put32Be(header, static_cast<uint32_t>(image.Height));
    for (uint8_t v : {1, 0, 0, 0, 0}) header.push_back(v); // 1-bit grey, no interlace
    PngChunk(out, "IHDR", header);
    PngChunk(out, "IDAT", z);
    PngChunk(out, "IEND", {});
    return out;
}

bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                         std::string& error) {
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string temp = (slash == std::string::npos ? std::string("./") : folder) +
                       ".lodestrum-cli-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    int failure = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failure = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    // mkstemp makes the file private; a picture is an ordinary file.
    if (!failure) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        if (::fchmod(fd, 0666 & ~mask) != 0) failure = errno;
    }
    if (!failure && ::fsync(fd) != 0) failure = errno;
    if (::close(fd) != 0 && !failure) failure = errno;
    if (!failure && ::rename(temp.c_str(), path.c_str()) != 0) failure = errno;
    if (failure) {
        ::unlink(temp.c_str());
        error = std::strerror(failure);
        return false;
    }
    return true;
}

} // namespace lodestrum::cli
