#include "platform/RuntimeDir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace lodestrum::platform {

bool EnsurePrivateDirectory(const std::filesystem::path& path, std::string& error) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        error = path.string() + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        error = path.string() + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        error = path.string() + ": not a folder of this user";
        return false;
    }
    if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) {
        error = path.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::optional<std::filesystem::path> RuntimeDirectory(std::string& error) {
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg == '/') {
        struct stat st {};
        if (::stat(xdg, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid())
            return std::filesystem::path(xdg);
        error = std::string(xdg) + ": XDG_RUNTIME_DIR is not a folder of this user";
        return std::nullopt;
    }
    std::filesystem::path fallback = "/tmp/lodestrum-" + std::to_string(::geteuid());
    if (!EnsurePrivateDirectory(fallback, error)) return std::nullopt;
    return fallback;
}

std::optional<std::filesystem::path> EndpointDirectory(std::string& error) {
    auto runtime = RuntimeDirectory(error);
    if (!runtime) return std::nullopt;
    auto dir = *runtime / "lodestrum";
    if (!EnsurePrivateDirectory(dir, error)) return std::nullopt;
    return dir;
}

} // namespace lodestrum::platform
