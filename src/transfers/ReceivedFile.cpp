#include "transfers/ReceivedFile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lodestrum::transfers {

namespace {

bool IsReplaceable(const std::string& path, const struct stat& info) {
    return S_ISREG(info.st_mode) && (info.st_mode & 0222) != 0 &&
           ::access(path.c_str(), W_OK) == 0;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash + 1);
}

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::string FileNamePart(std::string_view path) {
    const auto slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool ExistsForWriting(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && IsReplaceable(path, info);
}

WriteResult WriteReceivedFile(const std::string& path, std::span<const uint8_t> bytes) {
    struct stat target {};
    bool keepMode = false;
    if (::stat(path.c_str(), &target) == 0) {
        if (!IsReplaceable(path, target)) return WriteResult::CannotCreate;
        keepMode = true;
    } else if (errno != ENOENT) {
        return WriteResult::CannotCreate;
    }
    const std::string base = FileNamePart(path);
    if (base.empty()) return WriteResult::CannotCreate;

    // Hidden, and short enough to fit a name limit the target itself fits.
    static std::atomic<unsigned> serial{0};
    const std::string stem = FolderOf(path) + "." + base.substr(0, 200) + ".";
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "%d-%u.part", static_cast<int>(::getpid()),
                      serial.fetch_add(1));
        temp = stem + suffix;
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return WriteResult::CannotCreate;
    }
    if (fd < 0) return WriteResult::CannotCreate;

    bool ok = WriteAll(fd, bytes);
    if (ok && keepMode) ok = ::fchmod(fd, target.st_mode & 07777) == 0;
    if (ok) ok = ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return WriteResult::ShortWrite;
    }
    return WriteResult::Written;
}

uint16_t ReceiveLength(engine::TTransThread& job, std::size_t at) {
    job.ReceiveBlock(job.PacketBuffer.data() + at, 2);
    return static_cast<uint16_t>(job.PacketBuffer[at] | (job.PacketBuffer[at + 1] << 8));
}

} // namespace lodestrum::transfers
