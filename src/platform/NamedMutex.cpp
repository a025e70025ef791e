#include "platform/NamedMutex.h"

#include "platform/RuntimeDir.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lodestrum::platform {

std::unique_ptr<NamedMutex> NamedMutex::Create(const std::string& name, std::string& error,
                                               std::filesystem::path folder) {
    if (name.empty() || name.find('/') != std::string::npos || name[0] == '.') {
        error = "bad mutex name";
        return nullptr;
    }
    if (folder.empty()) {
        auto runtime = RuntimeDirectory(error);
        if (!runtime) return nullptr;
        folder = *runtime;
    }
    const auto path = folder / (name + ".lock");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = path.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    // An exclusive lock succeeds only when nobody else holds the file.
    bool existed = false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            error = path.string() + ": " + std::strerror(errno);
            ::close(fd);
            return nullptr;
        }
        existed = true;
    }
    if (::flock(fd, LOCK_SH) != 0) {
        error = path.string() + ": " + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<NamedMutex>(new NamedMutex(fd, existed));
}

NamedMutex::~NamedMutex() { ::close(Fd); }

} // namespace lodestrum::platform
