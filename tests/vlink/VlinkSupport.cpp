#include "VlinkSupport.h"

#include "platform/MessageEndpoint.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace lodestrum::testkit {

using Clock = std::chrono::steady_clock;

IsolatedRuntime::IsolatedRuntime() {
    if (const char* old = std::getenv("XDG_RUNTIME_DIR")) {
        Saved = old;
        HadValue = true;
    }
    ::setenv("XDG_RUNTIME_DIR", Dir.Path().c_str(), 1);
}

IsolatedRuntime::~IsolatedRuntime() {
    if (HadValue)
        ::setenv("XDG_RUNTIME_DIR", Saved.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
}

std::string UniquePrefix(const std::string& tag) {
    static std::atomic<int> counter{0};
    return "LT" + std::to_string(::getpid()) + tag + std::to_string(counter++) + " ";
}

VcalcProcess::VcalcProcess(std::vector<std::string> args) {
    args.insert(args.begin(), LODESTRUM_VCALC);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&Child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) Child = -1;
}

VcalcProcess::~VcalcProcess() {
    if (Child <= 0) return;
    Signal(SIGTERM);
    if (Wait() < 0) {
        Signal(SIGKILL);
        Wait();
    }
}

void VcalcProcess::Signal(int number) {
    if (Child > 0) ::kill(Child, number);
}

int VcalcProcess::Wait(std::chrono::milliseconds timeout) {
    if (Child <= 0) return -1;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(Child, &status, WNOHANG);
        if (done == Child) {
            Child = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (Clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool WaitForEmulator(const std::filesystem::path& folder, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        if (platform::EndpointAlive(folder, platform::EmulatorWindowName)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

bool Pump(engine::VirtualLink& link, const std::function<bool()>& done,
          std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        pollfd p{link.MessageFd(), POLLIN, 0};
        if (::poll(&p, 1, 10) > 0) link.ServeMessages();
    }
    return true;
}

} // namespace lodestrum::testkit
