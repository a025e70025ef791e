#include "ChildTransfer.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

extern char** environ;

namespace lodestrum::bench {

namespace {

std::filesystem::path ChildPath() {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    self[n > 0 ? n : 0] = '\0';
    return std::filesystem::path(self).parent_path() / "transfer_child";
}

} // namespace

ChildFigures RunTransferChild(SharedCalculator& calculator, const std::string& mode,
                              uint8_t calcType, const std::filesystem::path& folder,
                              const std::string& file) {
    ChildFigures figures;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return figures;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::string path = ChildPath().string(), fd = std::to_string(calculator.Shared.Descriptor()),
                m = mode, type = std::to_string(calcType), dir = folder.string(), name = file;
    char* argv[] = {path.data(), fd.data(),   m.data(), type.data(),
                    dir.data(),  name.data(), nullptr};
    pid_t child = -1;
    const int spawned = ::posix_spawn(&child, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string text;
    if (spawned == 0) {
        char buffer[256];
        for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    if (spawned != 0) return figures;
    int status = 0;
    ::waitpid(child, &status, 0);
    std::istringstream in(text);
    long peakKb = -1;
    for (std::string key; in >> key;) {
        if (key == "seconds")
            in >> figures.Seconds;
        else if (key == "peak_kb")
            in >> peakKb;
        else if (key == "bit_pauses")
            in >> figures.BitPauses;
        else if (key == "bit_pause_seconds")
            in >> figures.BitPauseSeconds;
        else if (key == "display_calls")
            in >> figures.DisplayCalls;
    }
    figures.PeakMegabytes = peakKb / 1024.0;
    figures.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && peakKb > 0;
    return figures;
}

} // namespace lodestrum::bench
