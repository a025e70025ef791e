// Bytes per second over the virtual link to lodestrum-vcalc in a process of
// its own, next to the same transfers over the simulated cable: a send job
// and the receiving of a 24 KB backup.
//
// Where the time goes on the virtual link: each side has a 256-byte ring
// (255 bytes usable), and the program pauses 50 ms whenever it finds the
// emulator's ring empty (receiving) or its own ring full (sending). Sending,
// the program fills its ring faster than the emulator empties it, so it
// pauses about every 255 bytes: some 5 KB/s at most. Receiving, the emulator
// fills its ring faster than the program takes the bytes, so the pauses come
// where the exchange turns round (the program waits for an answer that is
// not there yet) and in the end of the job, which waits for 50 ms of
// silence. The pauses are counted through the job's sleep hook and printed
// as *_ring_pause_seconds (on these transfers every 50 ms pause is one of
// those waits; the protocol's own pauses are 20 and 25 ms).
#include "Metrics.h"
#include "Payloads.h"
#include "drivers/SimDriver.h"
#include "engine/VirtualLink.h"
#include "files/Ti8xFile.h"
#include "support/JobRig.h"
#include "support/TempDir.h"
#include "transfers/Transfers.h"

#include <benchmark/benchmark.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

extern char** environ;

using namespace lodestrum;
using Clock = std::chrono::steady_clock;

namespace {

struct Payload {
    const char* Name;
    vcalc::Model Model;
    uint8_t CalcType;
    std::vector<uint8_t> Image;
    std::size_t DataBytes;
};

Payload Ti83Program() {
    const auto program = bench::Ti83Variable("BENCH", 24 * 1024, 7);
    return {
        "BENCH.83P", vcalc::Model::TI83, 3,
        files::BuildTi8xFile(3, files::Ti8xComment::Transferred, {{program.Header, program.Parts}}),
        24 * 1024};
}

Payload FlashApplication() {
    return {"bench.89k", vcalc::Model::TI89, 8, bench::FlashApplicationImage(64 * 1024), 64 * 1024};
}

constexpr std::size_t BackupSize = 24 * 1024;

std::string VcalcPath() {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    self[n > 0 ? n : 0] = '\0';
    return (std::filesystem::path(self).parent_path().parent_path() / "bin" / "lodestrum-vcalc")
        .string();
}

std::size_t FileCount(const std::filesystem::path& folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

// The job's pauses, summed as it sleeps them; one job runs at a time.
std::atomic<long> LongPauseMs{0}, ShortPauseMs{0};
void CountingSleep(int milliseconds) {
    (milliseconds >= 50 ? LongPauseMs : ShortPauseMs) += milliseconds;
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

struct Figures {
    double Rate = 0; // data bytes per second; 0 when the transfer did not complete
    double Seconds = 0;
    double RingPauseSeconds = 0;     // the 50 ms waits
    double ProtocolPauseSeconds = 0; // the 20 and 25 ms pauses
};

// Starts the job with the pause counters at zero; the figures once it ended.
Figures RunJob(testkit::JobRig& rig, uint8_t op, const std::string& file, std::size_t bytes) {
    rig.Env.Transfers = &transfers::DefaultTransfers();
    rig.Env.Sleep = &CountingSleep;
    LongPauseMs = 0;
    ShortPauseMs = 0;
    const auto start = Clock::now();
    rig.Start(op, file);
    Figures f;
    if (!rig.WaitEnded(1, std::chrono::minutes(5))) return f;
    f.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
    f.Rate = bytes / f.Seconds;
    f.RingPauseSeconds = LongPauseMs / 1000.0;
    f.ProtocolPauseSeconds = ShortPauseMs / 1000.0;
    return f;
}

// Sends the file; the calculator writes what it received into `memory`.
Figures RunSend(testkit::JobRig& rig, const Payload& p, const std::filesystem::path& path,
                const std::filesystem::path& memory) {
    rig.CalcType = p.CalcType;
    rig.Host.QueueYesNo(true); // the FLASH question
    const std::size_t before = FileCount(memory);
    Figures f = RunJob(rig, engine::OpSendSingle, path.string(), p.DataBytes);
    // The calculator stores a moment after the job's last byte.
    for (int i = 0; i < 100 && FileCount(memory) == before; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (FileCount(memory) == before) f.Rate = 0;
    return f;
}

// Receives the backup the calculator sends.
Figures RunReceiveBackup(testkit::JobRig& rig, const std::filesystem::path& folder) {
    rig.CalcType = 3;
    rig.Host.QueueSaveAnswer("bench.83b");
    testkit::CurrentFolder here(folder); // received files go to the current folder
    Figures f = RunJob(rig, engine::OpReceiveVariables, "", BackupSize);
    if (!std::filesystem::exists(folder / "bench.83b")) f.Rate = 0;
    return f;
}

// The calculator's memory: one program, so that its backup is 24 KB.
void WriteBackupMemory(const testkit::TempDir& memory) {
    const auto fill = bench::Ti83MemoryForBackup(BackupSize);
    memory.Write("FILL.83P", files::BuildTi8xFile(3, files::Ti8xComment::Transferred,
                                                  {{fill.Header, fill.Parts}}));
}

// The calculator begins its transmission once the link is up; giving it
// this long first means both links start with its first bytes waiting.
constexpr auto CalculatorStart = std::chrono::milliseconds(150);

Figures SimCableSend(const Payload& p) {
    testkit::TempDir memory, work;
    vcalc::CalcOptions options;
    options.Kind = p.Model;
    options.Directory = memory.Path();
    drivers::SimDriver driver(0, options);
    testkit::JobRig rig;
    rig.Env.Driver = &driver;
    return RunSend(rig, p, work.Write(p.Name, p.Image), memory.Path());
}

Figures SimCableReceiveBackup() {
    testkit::TempDir memory, work;
    WriteBackupMemory(memory);
    vcalc::CalcOptions options;
    options.Kind = vcalc::Model::TI83;
    options.Directory = memory.Path();
    options.BackupOnStart = true;
    drivers::SimDriver driver(0, options);
    testkit::JobRig rig;
    rig.Env.Driver = &driver;
    std::this_thread::sleep_for(CalculatorStart);
    return RunReceiveBackup(rig, work.Path());
}

// Runs body against lodestrum-vcalc started with `options` on the memory
// folder; empty figures when the emulator could not be reached.
Figures WithEmulator(const std::string& model, const std::filesystem::path& memory,
                     std::vector<std::string> options,
                     const std::function<Figures(testkit::JobRig&)>& body) {
    testkit::TempDir runtime;
    const std::string saved = std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : "";
    ::setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    Figures figures;
    {
        engine::VirtualLink link;
        std::string error;
        if (link.Start(error)) {
            std::vector<std::string> args = {VcalcPath(), "--model", model, "--dir",
                                             memory.string()};
            args.insert(args.end(), options.begin(), options.end());
            std::vector<char*> argv;
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            pid_t child = -1;
            if (::posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) == 0) {
                const auto deadline = Clock::now() + std::chrono::seconds(5);
                while (!link.HasPeerRing() && Clock::now() < deadline) {
                    pollfd fd{link.MessageFd(), POLLIN, 0};
                    if (::poll(&fd, 1, 10) > 0) link.ServeMessages();
                }
                testkit::JobRig rig;
                rig.Env.Virtual = &link;
                rig.Settings.UseVirtualLink = true;
                if (link.HasPeerRing()) figures = body(rig);
                ::kill(child, SIGTERM);
                // Its Goodbye comes while it ends; serve it so its exit is prompt.
                for (int i = 0; i < 200 && ::waitpid(child, nullptr, WNOHANG) == 0; ++i) {
                    pollfd fd{link.MessageFd(), POLLIN, 0};
                    if (::poll(&fd, 1, 10) > 0) link.ServeMessages();
                }
            }
        }
    }
    if (saved.empty())
        ::unsetenv("XDG_RUNTIME_DIR");
    else
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    return figures;
}

Figures VirtualLinkSend(const Payload& p) {
    testkit::TempDir memory, work;
    const auto path = work.Write(p.Name, p.Image);
    return WithEmulator(p.Model == vcalc::Model::TI89 ? "89" : "83", memory.Path(), {},
                        [&](testkit::JobRig& rig) { return RunSend(rig, p, path, memory.Path()); });
}

Figures VirtualLinkReceiveBackup() {
    testkit::TempDir memory, work;
    WriteBackupMemory(memory);
    return WithEmulator("83", memory.Path(), {"--backup"}, [&](testkit::JobRig& rig) {
        std::this_thread::sleep_for(CalculatorStart);
        return RunReceiveBackup(rig, work.Path());
    });
}

void Report(benchmark::State& state, const std::string& transfer, const Figures& vlink,
            const Figures& sim) {
    if (vlink.Rate == 0 || sim.Rate == 0) {
        state.SkipWithError("a transfer did not complete");
        return;
    }
    state.counters["vlink_bytes_per_second"] = vlink.Rate;
    state.counters["sim_bytes_per_second"] = sim.Rate;
    for (const auto& [link, f] : {std::pair{"vlink_", vlink}, std::pair{"sim_cable_", sim}}) {
        const std::string name = link + transfer;
        bench::Record(name + "_rate", f.Rate, "B/s");
        bench::Record(name + "_seconds", f.Seconds, "s");
        bench::Record(name + "_protocol_pause_seconds", f.ProtocolPauseSeconds, "s");
    }
    bench::Record("vlink_" + transfer + "_ring_pause_seconds", vlink.RingPauseSeconds, "s");
    bench::Record("vlink_" + transfer + "_vs_sim_cable", vlink.Rate / sim.Rate, "x");
}

void BM_SendTi83Program(benchmark::State& state) {
    const auto p = Ti83Program();
    for (auto _ : state)
        Report(state, "send_ti83_program_24k", VirtualLinkSend(p), SimCableSend(p));
}

void BM_SendFlashApplication(benchmark::State& state) {
    const auto p = FlashApplication();
    for (auto _ : state)
        Report(state, "send_flash_64k", VirtualLinkSend(p), SimCableSend(p));
}

void BM_ReceiveBackup(benchmark::State& state) {
    for (auto _ : state)
        Report(state, "receive_backup_24k", VirtualLinkReceiveBackup(), SimCableReceiveBackup());
}

BENCHMARK(BM_SendTi83Program)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SendFlashApplication)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiveBackup)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
