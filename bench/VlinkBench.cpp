// Bytes per second of a send job over the virtual link to lodestrum-vcalc in
// a process of its own, next to the same send over the simulated cable.
#include "Metrics.h"
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

#include <cstdlib>
#include <cstring>
#include <filesystem>
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

std::vector<uint8_t> Contents(std::size_t size) {
    std::vector<uint8_t> d(size);
    for (std::size_t i = 0; i < size; ++i) d[i] = static_cast<uint8_t>(i * 31 + 7);
    return d;
}

Payload Ti83Program() {
    const auto data = Contents(24 * 1024);
    const uint16_t size = static_cast<uint16_t>(data.size());
    std::vector<uint8_t> header = {static_cast<uint8_t>(size & 0xFF), static_cast<uint8_t>(size >> 8),
                                   0x05, 'B', 'E', 'N', 'C', 'H', 0, 0, 0};
    return {"BENCH.83P", vcalc::Model::TI83, 3,
            files::BuildTi8xFile(3, files::Ti8xComment::Transferred, {{header, {data}}}),
            data.size()};
}

// A FLASH application: the 78-byte block header, then 64 KB.
Payload FlashApplication() {
    const auto data = Contents(64 * 1024);
    std::vector<uint8_t> b(78, 0);
    std::memcpy(b.data(), "**TIFL**", 8);
    b[12] = 0x12, b[13] = 0x05, b[14] = 0x20, b[15] = 0x01;
    b[16] = 5;
    std::memcpy(&b[17], "bench", 5);
    b[48] = 0x98;
    b[49] = 0x24;
    for (int i = 0; i < 4; ++i) b[74 + i] = static_cast<uint8_t>(data.size() >> (8 * i));
    b.insert(b.end(), data.begin(), data.end());
    return {"bench.89k", vcalc::Model::TI89, 8, std::move(b), data.size()};
}

std::string VcalcPath() {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    self[n > 0 ? n : 0] = '\0';
    return (std::filesystem::path(self).parent_path().parent_path() / "bin" / "lodestrum-vcalc")
        .string();
}

double RunSend(testkit::JobRig& rig, const Payload& p, const std::filesystem::path& path) {
    rig.Env.Transfers = &transfers::DefaultTransfers();
    rig.CalcType = p.CalcType;
    rig.Host.QueueYesNo(true); // the FLASH question
    const auto start = Clock::now();
    rig.Start(engine::OpSendSingle, path.string());
    if (!rig.WaitEnded(1, std::chrono::minutes(5))) return 0;
    return p.DataBytes / std::chrono::duration<double>(Clock::now() - start).count();
}

double SimCableRate(const Payload& p) {
    testkit::TempDir memory, work;
    vcalc::CalcOptions options;
    options.Kind = p.Model;
    options.Directory = memory.Path();
    drivers::SimDriver driver(0, options);
    testkit::JobRig rig;
    rig.Env.Driver = &driver;
    return RunSend(rig, p, work.Write(p.Name, p.Image));
}

double VirtualLinkRate(const Payload& p) {
    testkit::TempDir runtime, memory, work;
    const std::string saved = std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : "";
    ::setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    double rate = 0;
    {
        engine::VirtualLink link;
        std::string error;
        if (link.Start(error)) {
            std::string vcalc = VcalcPath(), model = p.Model == vcalc::Model::TI89 ? "89" : "83",
                        dir = memory.Path().string();
            std::string m = "--model", d = "--dir";
            char* argv[] = {vcalc.data(), m.data(), model.data(), d.data(), dir.data(), nullptr};
            pid_t child = -1;
            if (::posix_spawn(&child, argv[0], nullptr, nullptr, argv, environ) == 0) {
                const auto deadline = Clock::now() + std::chrono::seconds(5);
                while (!link.HasPeerRing() && Clock::now() < deadline) {
                    pollfd fd{link.MessageFd(), POLLIN, 0};
                    if (::poll(&fd, 1, 10) > 0) link.ServeMessages();
                }
                testkit::JobRig rig;
                rig.Env.Virtual = &link;
                rig.Settings.UseVirtualLink = true;
                if (link.HasPeerRing()) rate = RunSend(rig, p, work.Write(p.Name, p.Image));
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
    return rate;
}

void BM_SendTi83Program(benchmark::State& state) {
    const auto p = Ti83Program();
    double vlink = 0, sim = 0;
    for (auto _ : state) {
        vlink = VirtualLinkRate(p);
        sim = SimCableRate(p);
    }
    state.counters["vlink_bytes_per_second"] = vlink;
    state.counters["sim_bytes_per_second"] = sim;
    bench::Record("vlink_send_ti83_program_24k_rate", vlink, "B/s");
    bench::Record("sim_cable_send_ti83_program_24k_rate", sim, "B/s");
}

void BM_SendFlashApplication(benchmark::State& state) {
    const auto p = FlashApplication();
    double vlink = 0, sim = 0;
    for (auto _ : state) {
        vlink = VirtualLinkRate(p);
        sim = SimCableRate(p);
    }
    state.counters["vlink_bytes_per_second"] = vlink;
    state.counters["sim_bytes_per_second"] = sim;
    bench::Record("vlink_send_flash_64k_rate", vlink, "B/s");
    bench::Record("sim_cable_send_flash_64k_rate", sim, "B/s");
}

BENCHMARK(BM_SendTi83Program)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SendFlashApplication)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
