// A 2 MB operating system image (.tib) and a 64 KB FLASH application sent to
// a TI-89 over the simulated cable (Delay 0). The program's side runs in
// transfer_child, the calculator in this process on a cable in shared
// memory, so one run gives the time and the program's peak memory (VmHWM of
// the child: the job, its window thread, the file image it loads; none of the
// calculator's transcript, memory or stored file).
//
// The rate without pauses takes the route's fixed pauses off the elapsed
// time; its ratio to the byte benchmark of the same run shows what the send
// loop costs beyond the bare bytes.
#include "ChildTransfer.h"
#include "Metrics.h"
#include "Payloads.h"
#include "support/TempDir.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <thread>

using namespace lodestrum;

namespace {

constexpr std::size_t FlashBlock = 65530;

struct Case {
    const char* Label;
    const char* FileName;
    std::vector<uint8_t> (*Image)();
    std::size_t DataBytes; // what the blocks carry
};

// 20 ms after the VAR packet; per block 20 ms inside the ACK before it and
// 20 ms after its CONT or EOT; 15 ms line hold at the end of the job.
double FixedPausesSeconds(std::size_t dataBytes) {
    const std::size_t blocks = dataBytes / FlashBlock + 1;
    return (20 + 40.0 * static_cast<double>(blocks) + 15) / 1000.0;
}

std::vector<uint8_t> TibImage() {
    return bench::Contents(2 * 1024 * 1024);
}
std::vector<uint8_t> ApplicationImage() {
    return bench::FlashApplicationImage(64 * 1024);
}

const Case Cases[] = {
    {"send_tib_2m", "os.tib", TibImage, 2 * 1024 * 1024},
    {"send_flash_64k", "bench.89k", ApplicationImage, 64 * 1024},
};

void BM_SendFlash(benchmark::State& state) {
    const Case& c = Cases[state.range(0)];
    const auto image = c.Image();
    const std::string label = c.Label;
    for (auto _ : state) {
        testkit::TempDir memory, work;
        const auto path = work.Write(c.FileName, image);
        vcalc::CalcOptions options;
        options.Kind = vcalc::Model::TI89;
        options.Directory = memory.Path();
        if (const char* log = std::getenv("LODESTRUM_SIM_LOG")) options.Log = *log == '1';
        bench::SharedCalculator calculator(options);
        const auto figures = bench::RunTransferChild(calculator, "send", 8, work.Path(), path);
        // The calculator keeps the blocks a moment after the program's last byte.
        std::size_t stored = 0;
        for (int wait = 0; figures.Ok && stored == 0 && wait < 100; ++wait) {
            for (const auto& v : calculator.Calc.Memory())
                if (v.IsFlash)
                    for (const auto& part : v.Parts)
                        stored += part.size();
            if (stored == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!figures.Ok || stored != c.DataBytes) {
            state.SkipWithError(figures.Ok ? "the calculator did not store it all"
                                           : "transfer_child failed");
            return;
        }
        const auto bytes = bench::CountLinkBytes(calculator.Calc.Transcript());
        bench::Record(label + "_seconds", figures.Seconds, "s");
        bench::Record(label + "_rate", static_cast<double>(image.size()) / figures.Seconds, "B/s");
        bench::Record(label + "_fixed_pauses_seconds", FixedPausesSeconds(c.DataBytes), "s");
        bench::Record(label + "_link_bytes_from_pc", static_cast<double>(bytes.FromPc), "B");
        bench::Record(label + "_link_bytes_from_calc", static_cast<double>(bytes.FromCalculator),
                      "B");
        bench::Record(label + "_display_calls", static_cast<double>(figures.DisplayCalls), "calls");
        bench::Record(label + "_peak_rss", figures.PeakMegabytes, "MB");
        bench::Record(label + "_peak_rss_budget", static_cast<double>(image.size()) / (1 << 20) + 8,
                      "MB");
        state.counters["seconds"] = figures.Seconds;
    }
}

BENCHMARK(BM_SendFlash)->DenseRange(0, 1)->Iterations(1)->Unit(benchmark::kMillisecond);

const bool Registered = [] {
    bench::AddFinisher([](std::map<std::string, bench::Metric>& m) {
        if (!m.count("sim_cable_send_rate") || !m.count("sim_cable_receive_rate")) return;
        for (const auto& c : Cases) {
            const std::string label = c.Label;
            if (!m.count(label + "_seconds")) continue;
            const double busy =
                m[label + "_seconds"].Value - m[label + "_fixed_pauses_seconds"].Value;
            const double pc = m[label + "_link_bytes_from_pc"].Value;
            const double calc = m[label + "_link_bytes_from_calc"].Value;
            // The calculator's few replies go at the receiving rate.
            const double byteSeconds =
                pc / m["sim_cable_send_rate"].Value + calc / m["sim_cable_receive_rate"].Value;
            m[label + "_rate_without_pauses"] = {(pc + calc) / busy, "B/s"};
            m[label + "_vs_byte_rate"] = {byteSeconds / busy, "x"};
        }
    });
    return true;
}();

} // namespace
