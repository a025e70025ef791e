#include "VlinkSupport.h"

#include "platform/MessageEndpoint.h"
#include "transfers/Transfers.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
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
    // A command written after the emulator died must fail, not end the test.
    ::signal(SIGPIPE, SIG_IGN);
    int input[2];
    if (::pipe2(input, O_CLOEXEC) != 0) return;
    const pid_t parent = ::getpid();
    Child = ::fork();
    if (Child == 0) {
        // Only async-signal-safe calls here. A test process that dies takes
        // its emulator with it, so no orphan holds CTest's output pipes open.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        ::dup2(input[0], STDIN_FILENO);
        ::execve(argv[0], argv.data(), environ);
        ::_exit(127);
    }
    ::close(input[0]);
    if (Child < 0) {
        ::close(input[1]);
        return;
    }
    Input = input[1];
}

VcalcProcess::~VcalcProcess() {
    if (Input >= 0) ::close(Input);
    if (Child <= 0) return;
    Signal(SIGTERM);
    if (Wait() < 0) {
        Signal(SIGKILL);
        Wait();
    }
}

bool VcalcProcess::Command(const std::string& line) {
    if (Input < 0) return false;
    const std::string text = line + "\n";
    return ::write(Input, text.data(), text.size()) == static_cast<ssize_t>(text.size());
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

uint8_t RecordingCable::RingGetByte() {
    const uint8_t value = Link.RingGetByte();
    std::lock_guard lock(Mutex);
    GotBytes.push_back(value);
    return value;
}

bool RecordingCable::RingPutByte(uint8_t value) {
    if (!Link.RingPutByte(value)) return false;
    std::lock_guard lock(Mutex);
    PutBytes.push_back(value);
    return true;
}

std::vector<uint8_t> RecordingCable::Put() const {
    std::lock_guard lock(Mutex);
    return PutBytes;
}

std::vector<uint8_t> RecordingCable::Got() const {
    std::lock_guard lock(Mutex);
    return GotBytes;
}

std::vector<uint8_t> PacketCommands(const std::vector<uint8_t>& stream) {
    std::vector<uint8_t> commands;
    std::size_t i = 0;
    while (i + 1 < stream.size()) {
        const uint8_t command = stream[i + 1];
        commands.push_back(command);
        if (i + 3 >= stream.size()) break;
        const std::size_t length = stream[i + 2] | (stream[i + 3] << 8);
        // VAR, DATA and SKIP carry data and a checksum.
        const bool data = command == 0x06 || command == 0x15 || command == 0x36;
        i += 4 + (data ? length + 2 : 0);
    }
    return commands;
}

std::vector<std::string> VcalcArgs(const std::string& model, std::vector<std::string> more) {
    std::vector<std::string> args = {"--model", model};
    args.insert(args.end(), more.begin(), more.end());
    if (const char* log = std::getenv("LODESTRUM_SIM_LOG"); log && *log == '1')
        args.push_back("--log");
    return args;
}

EmulatorRig::EmulatorRig(std::vector<std::string> vcalcArgs,
                         const std::vector<std::filesystem::path>& memoryFiles)
    : Previous(std::filesystem::current_path()) {
    for (const auto& file : memoryFiles)
        std::filesystem::copy_file(file, Memory.Path() / file.filename());
    std::filesystem::current_path(Work.Path());
    Rig.Env.Virtual = &Cable;
    Rig.Env.Transfers = &transfers::DefaultTransfers();
    Rig.Settings.UseVirtualLink = true;
    std::string error;
    if (!Link.Start(error)) return;
    vcalcArgs.push_back("--dir");
    vcalcArgs.push_back(Memory.Path().string());
    Vcalc = std::make_unique<VcalcProcess>(std::move(vcalcArgs));
    Ready = Vcalc->Running() &&
            Pump(Link, [&] { return Link.HasPeerRing() && !Link.EmuWindow().empty(); });
}

EmulatorRig::~EmulatorRig() {
    if (Vcalc && Vcalc->Running()) {
        Vcalc->Signal(SIGTERM);
        Pump(Link, [&] { return Vcalc->Wait(std::chrono::milliseconds(0)) >= 0; });
    }
    Vcalc.reset();
    std::filesystem::current_path(Previous);
}

engine::TTransThread* EmulatorRig::Start(uint8_t op, const std::string& fileName) {
    ++Jobs;
    return Rig.Start(op, fileName);
}

bool EmulatorRig::WaitEnded(std::chrono::milliseconds timeout) {
    return Pump(Link, [&] { return Rig.Host.JobsEnded() >= Jobs; }, timeout);
}

} // namespace lodestrum::testkit
