#include "cli/CliHost.h"

#include "cli/Messages.h"

#include <cerrno>
#include <future>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lodestrum::cli {

using engine::JobOutcome;
using engine::TTransThread;

namespace {

// The receive job's question before it writes over a file of the automatic name.
bool IsReplaceQuestion(const std::string& text) {
    return text.rfind("Replace ", 0) == 0 &&
           text.find("?\nPress No to choose another name.") != std::string::npos;
}

} // namespace

bool PathExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

CliHost::CliHost(Console& console, AnswerMode answers, ExistingMode existing, int signalFd)
    : Out(console), Answers(answers), Existing(existing), SignalFd(signalFd),
      WakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), MainThread(std::this_thread::get_id()) {}

CliHost::~CliHost() {
    if (WakeFd >= 0) ::close(WakeFd);
}

void CliHost::Post(std::function<void()> fn) {
    {
        std::lock_guard lock(Mutex);
        Queue.push_back(std::move(fn));
    }
    const uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(WakeFd, &one, sizeof one);
}

void CliHost::Synchronize(const std::function<void()>& fn) {
    if (std::this_thread::get_id() == MainThread) {
        fn();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    Post([&] {
        fn();
        done.set_value();
    });
    finished.wait();
}

void CliHost::RequestStop() {
    Stop.store(true);
    const uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(WakeFd, &one, sizeof one);
}

void CliHost::Watch(int fd, std::function<void()> serve) {
    WatchedFd = fd;
    ServeWatched = std::move(serve);
}

void CliHost::ServeIfReadable() {
    if (WatchedFd < 0) return;
    pollfd p{WatchedFd, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) ServeWatched();
}

bool CliHost::DrainWakeUps() {
    ServeIfReadable();
    uint64_t count = 0;
    while (::read(WakeFd, &count, sizeof count) > 0) {
    }
    if (SignalFd >= 0) {
        signalfd_siginfo info{};
        while (::read(SignalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
            RequestStop();
    }
    return Stop.load();
}

void CliHost::Wait() {
    pollfd fds[3];
    nfds_t count = 0;
    for (int fd : {WakeFd, SignalFd, WatchedFd})
        if (fd >= 0) fds[count++] = {fd, POLLIN, 0};
    if (::poll(fds, count, -1) < 0 && errno != EINTR) return;
    DrainWakeUps();
}

void CliHost::RunQueueUntil(const std::function<bool()>& finished) {
    for (;;) {
        for (;;) {
            std::function<void()> fn;
            {
                std::lock_guard lock(Mutex);
                if (Queue.empty()) break;
                fn = std::move(Queue.front());
                Queue.pop_front();
            }
            fn();
            if (finished()) return;
        }
        if (Stop.load() && !StopTold) {
            StopTold = true;
            Out.Note(text::Stopping());
            if (Current) Current->Terminate();
        }
        Wait();
    }
}

JobOutcome CliHost::RunJob(const std::string& path, uint8_t op, const engine::JobSettings& settings,
                           const engine::LinkEnvironment& environment,
                           std::atomic<uint8_t>& calcType) {
    bool ended = false;
    Outcome = JobOutcome::Done;
    Code = 0;
    Current = TTransThread::Create(path, op, settings, environment, *this, calcType,
                                   [this, &ended](TTransThread&) {
                                       Current = nullptr;
                                       ended = true;
                                   });
    if (Stop.load()) Current->Terminate();
    RunQueueUntil([&] { return ended; });
    return Outcome;
}

void CliHost::ShowStatus(const std::string& text) { Out.Status(text); }

void CliHost::ShowCalcType(uint8_t, const std::string&) {}

void CliHost::ShowProgress(int percent) { Out.Progress(percent); }

void CliHost::ShowError(const std::string& title, const std::string& text) {
    ErrorReported = true;
    Out.Box(title, text);
}

Interruption CliHost::ForQuestions() {
    Interruption i;
    i.Fds.push_back(WakeFd);
    if (SignalFd >= 0) i.Fds.push_back(SignalFd);
    if (WatchedFd >= 0) i.Fds.push_back(WatchedFd);
    i.Stopped = [this] { return DrainWakeUps(); };
    return i;
}

std::optional<bool> CliHost::Decide(const std::string& title, const std::string& question) {
    if (Stop.load()) return std::nullopt;
    if (Answers != AnswerMode::Ask) {
        const bool yes = Answers == AnswerMode::Yes;
        Out.Note(text::Answered(question, yes));
        return yes;
    }
    if (Out.CanAsk()) return Out.AskYesNo(question, ForQuestions());
    Refused = true;
    Out.Error(text::NoTerminal(title));
    return std::nullopt;
}

bool CliHost::AskYesNo(const std::string& title, const std::string& text, engine::MessageIcon) {
    if (IsReplaceQuestion(text) && Existing != ExistingMode::Ask) {
        const bool replace = Existing == ExistingMode::Replace;
        Out.Note(text::Answered(title + ": " + text, replace));
        return replace;
    }
    return Decide(title, title + ": " + text).value_or(false);
}

std::optional<std::string> CliHost::FreeNameBeside(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    const std::string stem = hasExtension ? path.substr(0, dot) : path;
    const std::string extension = hasExtension ? path.substr(dot) : "";
    for (int n = 1; n < 1000; ++n) {
        std::string candidate = stem + "-" + std::to_string(n) + extension;
        if (!PathExists(candidate)) {
            Out.Note(text::SavedUnder(candidate));
            return candidate;
        }
    }
    Out.Error(text::NoFreeName(path));
    return std::nullopt;
}

std::optional<std::string> CliHost::AskSaveFileName(const engine::SaveDialogRequest& request) {
    if (Stop.load()) return std::nullopt;
    std::string name = request.FileName;
    if (Answers == AnswerMode::Ask && Out.CanAsk()) {
        for (;;) {
            const auto line = Out.AskLine(request.Title + " [" + name + "] ", ForQuestions());
            if (!line) return std::nullopt;
            const std::string chosen = line->empty() ? name : *line;
            if (chosen.empty()) continue;
            if (!PathExists(chosen) || Existing == ExistingMode::Replace) return chosen;
            if (Existing == ExistingMode::Keep) return FreeNameBeside(chosen);
            const auto replace = Out.AskYesNo(text::ReplaceQuestion(chosen), ForQuestions());
            if (!replace) return std::nullopt;
            if (*replace) return chosen;
            name = chosen;
        }
    }
    // Without a terminal to ask, or told to answer alone: the proposed name.
    if (name.empty()) {
        Refused = true;
        Out.Error(text::NoTerminal(request.Title));
        return std::nullopt;
    }
    Out.Note(request.Title + " " + name);
    if (!PathExists(name) || Existing == ExistingMode::Replace) return name;
    if (Existing == ExistingMode::Keep) return FreeNameBeside(name);
    if (Answers == AnswerMode::Yes) return name;
    if (Answers == AnswerMode::No) {
        Out.Error(text::NotSavedExists(name));
        return std::nullopt;
    }
    Refused = true;
    Out.Error(text::NoTerminalForFile(name));
    return std::nullopt;
}

bool CliHost::MayReplace(const std::string& path) {
    if (!PathExists(path) || Existing == ExistingMode::Replace) return true;
    if (Existing == ExistingMode::Keep || Answers == AnswerMode::No) {
        Out.Error(text::ExistsKept(path));
        return false;
    }
    const std::string question = text::ReplaceQuestion(path);
    if (Answers == AnswerMode::Yes) {
        Out.Note(text::Answered(question, true));
        return true;
    }
    if (!Out.CanAsk()) {
        Refused = true;
        Out.Error(text::NoTerminalForFile(path));
        return false;
    }
    const auto yes = Out.AskYesNo(question, ForQuestions());
    if (yes && *yes) return true;
    if (yes) Out.Error(text::ExistsKept(path));
    return false;
}

void CliHost::ShowScreenImage(const engine::MonoImage& image) { Screen = image; }

void CliHost::SelectLinkPort(int) { ++Detected; }

void CliHost::JobEnded(JobOutcome outcome, int code) {
    Outcome = outcome;
    Code = code;
}

} // namespace lodestrum::cli
