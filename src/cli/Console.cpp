#include "cli/Console.h"

#include "cli/Messages.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace lodestrum::cli {

namespace {

void WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return; // a closed stderr loses the line, never the run
        done += static_cast<std::size_t>(n);
    }
}

constexpr std::size_t MaxAnswer = 4096;

} // namespace

Console::Console(int errFd, int ttyFd, bool quiet, bool progressBar)
    : ErrFd(errFd), TtyFd(ttyFd), IsQuiet(quiet), BarWanted(progressBar && !quiet) {}

Console::~Console() {
    ClearBar();
    if (TtyFd >= 0) ::close(TtyFd);
}

std::unique_ptr<Console> Console::ForProcess(bool quiet) {
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    return std::make_unique<Console>(STDERR_FILENO, tty, quiet, ::isatty(STDERR_FILENO) == 1);
}

void Console::ClearBar() {
    if (!BarShown) return;
    WriteAll(ErrFd, "\r\033[K");
    BarShown = false;
}

void Console::DrawBar() {
    if (!BarWanted || Percent <= 0) return;
    constexpr int Width = 30;
    const int filled = Percent * Width / 100;
    std::string bar = "\r[" + std::string(filled, '#') + std::string(Width - filled, ' ') + "] ";
    const std::string number = std::to_string(Percent);
    bar += std::string(3 - std::min<std::size_t>(3, number.size()), ' ') + number + "%";
    WriteAll(ErrFd, bar);
    BarShown = true;
}

void Console::Line(const std::string& text) {
    ClearBar();
    WriteAll(ErrFd, text + "\n");
    DrawBar();
}

void Console::Status(const std::string& text) {
    if (!IsQuiet) Line(text);
}

void Console::Progress(int percent) {
    if (!BarWanted || percent == Percent) return;
    Percent = percent;
    if (percent <= 0)
        ClearBar();
    else
        DrawBar();
}

void Console::Note(const std::string& text) {
    if (!IsQuiet) Line(text);
}

void Console::Box(const std::string& title, const std::string& text) { Line(title + ": " + text); }

void Console::Error(const std::string& text) { Line(std::string(text::ProgramName) + ": " + text); }

std::optional<std::string> Console::AskLine(const std::string& prompt,
                                            const Interruption& interruption) {
    if (TtyFd < 0) return std::nullopt;
    ClearBar();
    WriteAll(TtyFd, prompt);
    std::string answer;
    std::optional<std::string> result;
    for (;;) {
        std::vector<pollfd> fds{{TtyFd, POLLIN, 0}};
        for (int fd : interruption.Fds) fds.push_back({fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        bool woken = false;
        for (std::size_t i = 1; i < fds.size(); ++i) woken |= fds[i].revents != 0;
        if (woken && interruption.Stopped && interruption.Stopped()) break;
        if (fds[0].revents == 0) continue;
        char buffer[256];
        const ssize_t n = ::read(TtyFd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break; // end of input answers nothing
        bool complete = false;
        for (ssize_t i = 0; i < n && !complete; ++i) {
            if (buffer[i] == '\n')
                complete = true;
            else if (answer.size() < MaxAnswer)
                answer.push_back(buffer[i]);
        }
        if (complete) {
            if (!answer.empty() && answer.back() == '\r') answer.pop_back();
            result = answer;
            break;
        }
    }
    if (!result) WriteAll(TtyFd, "\n");
    DrawBar();
    return result;
}

std::optional<bool> Console::AskYesNo(const std::string& question,
                                      const Interruption& interruption) {
    for (;;) {
        const auto line = AskLine(question + text::YesNoSuffix, interruption);
        if (!line) return std::nullopt;
        std::string a;
        for (char c : *line)
            if (c != ' ' && c != '\t') a.push_back(static_cast<char>(c | 0x20));
        if (a == "y" || a == "yes") return true;
        if (a.empty() || a == "n" || a == "no") return false;
    }
}

} // namespace lodestrum::cli
