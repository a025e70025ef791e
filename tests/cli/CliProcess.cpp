#include "CliProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace lodestrum::clitest {

namespace {

// The test's environment with changes: "NAME=value" strings.
std::vector<std::string> Environment(const std::map<std::string, std::string>& changes) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [name, value] : changes) {
        if (value.empty())
            env.erase(name);
        else
            env[name] = value;
    }
    std::vector<std::string> strings;
    for (const auto& [name, value] : env)
        strings.push_back(name + "=" + value);
    return strings;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

} // namespace

Emulator::Emulator(std::vector<std::string> args, const std::map<std::string, std::string>& env,
                   const std::filesystem::path& runtimeDir) {
    args.insert(args.begin(), LODESTRUM_VCALC_BINARY);
    auto envStrings = Environment(env);
    auto envp = Pointers(envStrings);
    auto argv = Pointers(args);
    int input[2];
    if (::pipe2(input, O_CLOEXEC) != 0) return;
    const pid_t parent = ::getpid();
    Child = ::fork();
    if (Child == 0) {
        // A test that dies takes its emulator with it.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(input[0], 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(input[0]);
    Input = input[1];
    // Listening once its endpoint exists.
    const auto endpoint = runtimeDir / "lodestrum" / "TEmuWnd";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::exists(endpoint) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Ready = std::filesystem::exists(endpoint);
}

Emulator::~Emulator() {
    if (Child > 0) {
        ::kill(Child, SIGTERM);
        int status = 0;
        for (int i = 0; i < 300 && ::waitpid(Child, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (::waitpid(Child, &status, WNOHANG) == 0) {
            ::kill(Child, SIGKILL);
            ::waitpid(Child, &status, 0);
        }
    }
    if (Input >= 0) ::close(Input);
}

CliResult RunCli(const CliRun& run) {
    auto envStrings = Environment(run.Env);
    auto envp = Pointers(envStrings);
    std::vector<std::string> argStrings = {LODESTRUM_CLI_BINARY};
    argStrings.insert(argStrings.end(), run.Args.begin(), run.Args.end());
    auto argv = Pointers(argStrings);

    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);

    CliResult result;
    const auto deadline = std::chrono::steady_clock::now() + run.Timeout;
    bool interrupted = false, killed = false;
    int open = 2;
    while (open > 0) {
        pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(pid, SIGKILL);
            killed = true;
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fds[i].fd);
                (i == 0 ? out[0] : err[0]) = -1;
                --open;
                continue;
            }
            (i == 0 ? result.Out : result.Err).append(buffer, static_cast<std::size_t>(n));
        }
        if (out[0] < 0 && err[0] < 0) break;
        if (run.InterruptWhen && !interrupted &&
            result.Err.find(*run.InterruptWhen) != std::string::npos) {
            ::kill(pid, SIGINT);
            interrupted = true;
        }
    }
    if (out[0] >= 0) ::close(out[0]);
    if (err[0] >= 0) ::close(err[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!killed && WIFEXITED(status)) result.ExitCode = WEXITSTATUS(status);
    return result;
}

} // namespace lodestrum::clitest
