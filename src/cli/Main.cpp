#include "cli/CliHost.h"
#include "cli/Console.h"
#include "cli/Defaults.h"
#include "cli/Messages.h"
#include "cli/Options.h"
#include "cli/Runner.h"
#include "drivers/BuiltinDrivers.h"
#include "engine/VirtualLink.h"
#include "platform/PortDriver.h"
#include "platform/SettingsStore.h"
#include "transfers/Transfers.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

using namespace lodestrum;
using namespace lodestrum::cli;

namespace {

// Serves the virtual link's messages until the emulator's ring is attached;
// false when none came in time or a stop signal came first.
bool WaitForEmulator(engine::VirtualLink& link, int signalFd) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!link.HasPeerRing()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd fds[2] = {{link.MessageFd(), POLLIN, 0}, {signalFd, POLLIN, 0}};
        if (::poll(fds, signalFd >= 0 ? 2 : 1, static_cast<int>(left.count())) < 0 &&
            errno != EINTR)
            return false;
        if (fds[1].revents) return false;
        if (fds[0].revents) link.ServeMessages();
    }
    return true;
}

int Run(int argc, char** argv) {
    const ParsedCommandLine parsed = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.Ok()) {
        std::fprintf(stderr, "%s: %s\n\n%s", text::ProgramName, parsed.Error.c_str(),
                     text::Usage().c_str());
        return exitcode::Usage;
    }
    const CliOptions& options = parsed.Options;
    if (options.Help) {
        std::fputs(text::Usage().c_str(), stdout);
        return exitcode::Done;
    }
    if (options.Version) {
        std::printf("%s %s\n", text::ProgramName, LODESTRUM_VERSION);
        return exitcode::Done;
    }

    // Signals are taken from a descriptor by the main loop, so Ctrl-C becomes
    // the job's stop flag; blocked before any thread starts, so every thread
    // inherits the mask.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const int signalFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);

    auto console = Console::ForProcess(options.Quiet);
    std::vector<std::string> warnings;
    RunSettings settings = LoadStoredSettings(platform::SettingsStore::DefaultPath(), warnings);
    for (const auto& warning : warnings) console->Error(warning);
    ApplyOptions(settings, options);

    if (options.Directory && ::chdir(options.Directory->c_str()) != 0) {
        console->Error(text::CannotChangeDir(*options.Directory, std::strerror(errno)));
        return exitcode::Failed;
    }

    drivers::RegisterBuiltinDrivers();
    const std::string driverName = options.Driver.value_or(platform::DriverNameFromEnvironment());
    std::string reason;
    std::unique_ptr<platform::PortDriver> driver =
        platform::DriverRegistry::Instance().Create(driverName, reason);
    if (!driver) {
        console->Error(text::DriverNotLoaded(driverName, reason));
        return exitcode::Failed;
    }

    // The virtual cable: our ring and endpoint, and the emulator's ring once it
    // has greeted us or answered our greeting.
    std::unique_ptr<engine::VirtualLink> link;
    if (settings.Job.UseVirtualLink) {
        link = std::make_unique<engine::VirtualLink>();
        if (!link->Start(reason)) {
            console->Error(text::VirtualLinkNotStarted(reason));
            return exitcode::Failed;
        }
        link->Greet();
        if (!WaitForEmulator(*link, signalFd)) {
            console->Error(text::NoEmulator());
            return exitcode::Failed;
        }
    }

    int code;
    {
        CliHost host(*console, options.Answers, options.Existing, signalFd);
        if (link) host.Watch(link->MessageFd(), [&link] { link->ServeMessages(); });
        RunEnvironment environment{driver.get(), &transfers::DefaultTransfers(), link.get()};
        code = RunCommand(options, settings, host, *console, environment);
    }
    // Every job has ended and deleted itself; only now do the link and the driver go.
    if (link) {
        link->SendToEmulator(platform::LinkMessage::Goodbye);
        link->ReleasePeerRing();
        link->ReleaseOwnRing();
    }
    driver.reset();
    return code;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", text::ProgramName, e.what());
        return exitcode::Failed;
    }
}
