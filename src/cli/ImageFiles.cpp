#include "cli/ImageFiles.h"

#include "files/MonoImageFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lodestrum::cli {

namespace {

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
        return name.size() > ext.size() &&
               name.compare(name.size() - ext.size(), ext.size(), ext) == 0;
    };
    if (endsWith(".bmp")) return ImageFormat::Bmp;
    if (endsWith(".png")) return ImageFormat::Png;
    return std::nullopt;
}

std::vector<uint8_t> EncodeImage(const engine::MonoImage& image, ImageFormat format) {
    const files::MonoBitmap bitmap{image.Width, image.Height, image.Bits};
    return format == ImageFormat::Png ? files::EncodeMonoPng(bitmap) : files::EncodeMonoBmp(bitmap);
}

bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                         std::string& error) {
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string temp =
        (slash == std::string::npos ? std::string("./") : folder) + ".lodestrum-cli-XXXXXX";
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
