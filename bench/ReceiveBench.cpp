// The simulated TI-83 sends a group of 100 variables of 100 bytes (received
// into one group file) and a 24 KB backup, over the simulated cable. The
// program's side runs in transfer_child, the calculator in this process, as
// in FlashSendBench. The time runs from the calculator's first bit to the
// end of the job, and is set next to its floor: the program's fixed pauses
// plus each side's bytes at the rates the byte benchmark measures in the
// same run. The peak is the child's VmHWM: the program's libraries and
// threads (transfer_child_idle_peak_rss alone), the data received and the
// file image built from it; none of the calculator's copies.
#include "ChildTransfer.h"
#include "Metrics.h"
#include "Payloads.h"
#include "support/TempDir.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <thread>

using namespace lodestrum;

namespace {

constexpr int GroupVariables = 100;
constexpr std::size_t GroupVariableSize = 100;
constexpr std::size_t BackupSize = 24 * 1024;

// The first header's ACK (20 ms); per variable 25 ms after CTS, 25 ms after
// the data's checksum and 20 ms inside its ACK; 20 ms in the ACK of every
// further header; 25 ms and an ACK after the EOT; the 15 ms end-of-job hold.
constexpr double GroupPausesSeconds =
    (20 + GroupVariables * 70 + (GroupVariables - 1) * 20 + 45 + 15) / 1000.0;
// The header's ACK, 25 ms after CTS, 25 ms after each part's ACK, the hold.
constexpr double BackupPausesSeconds = (20 + 25 + 3 * 25 + 15) / 1000.0;

void Report(const std::string& label, const bench::ChildFigures& figures,
            const bench::LinkBytes& bytes, double pauses, std::size_t dataBytes) {
    bench::Record(label + "_seconds", figures.Seconds, "s");
    bench::Record(label + "_fixed_pauses_seconds", pauses, "s");
    bench::Record(label + "_link_bytes_from_pc", static_cast<double>(bytes.FromPc), "B");
    bench::Record(label + "_link_bytes_from_calc", static_cast<double>(bytes.FromCalculator), "B");
    // Part of the time, and of the byte benchmark's time too: how often the
    // calculator began its next bit before the program looked for idle lines.
    bench::Record(label + "_bit_pauses", static_cast<double>(figures.BitPauses), "pauses");
    bench::Record(label + "_bit_pause_seconds", figures.BitPauseSeconds, "s");
    // Each a blocking call onto the window thread; with 100-byte variables the
    // percentage, and so the progress bar, changes with every byte.
    bench::Record(label + "_display_calls", static_cast<double>(figures.DisplayCalls), "calls");
    bench::Record(label + "_peak_rss", figures.PeakMegabytes, "MB");
    bench::Record(label + "_peak_rss_budget", 3.0 * static_cast<double>(dataBytes) / (1 << 20) + 8,
                  "MB");
}

// The calculator counts its transmission once it has the program's last ACK.
bool CalculatorDone(bench::SharedCalculator& calculator) {
    for (int wait = 0; calculator.Calc.SentCount() == 0 && wait < 100; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return calculator.Calc.SentCount() == 1;
}

void BM_ReceiveGroup(benchmark::State& state) {
    for (auto _ : state) {
        testkit::TempDir work;
        vcalc::CalcOptions options;
        options.Kind = vcalc::Model::TI83;
        bench::SharedCalculator calculator(options);
        for (int i = 0; i < GroupVariables; ++i) {
            char name[8];
            std::snprintf(name, sizeof name, "V%03d", i);
            calculator.Calc.AddVariable(
                bench::Ti83Variable(name, GroupVariableSize, static_cast<uint8_t>(i)));
        }
        // It starts once the child's job takes its first bit.
        calculator.Calc.QueueSend();
        const auto figures =
            bench::RunTransferChild(calculator, "group", 3, work.Path(), "group.83g");
        if (!figures.Ok || !CalculatorDone(calculator) ||
            !std::filesystem::exists(work.Path() / "group.83g")) {
            state.SkipWithError("the group was not received");
            return;
        }
        Report("receive_group_100x100", figures,
               bench::CountLinkBytes(calculator.Calc.Transcript()), GroupPausesSeconds,
               GroupVariables * GroupVariableSize);
        state.counters["seconds"] = figures.Seconds;
    }
}

void BM_ReceiveBackup(benchmark::State& state) {
    for (auto _ : state) {
        testkit::TempDir work;
        vcalc::CalcOptions options;
        options.Kind = vcalc::Model::TI83;
        bench::SharedCalculator calculator(options);
        calculator.Calc.AddVariable(bench::Ti83MemoryForBackup(BackupSize));
        calculator.Calc.QueueBackup();
        const auto figures =
            bench::RunTransferChild(calculator, "receive", 3, work.Path(), "bench.83b");
        if (!figures.Ok || !CalculatorDone(calculator) ||
            !std::filesystem::exists(work.Path() / "bench.83b")) {
            state.SkipWithError("the backup was not received");
            return;
        }
        Report("receive_backup_24k", figures, bench::CountLinkBytes(calculator.Calc.Transcript()),
               BackupPausesSeconds, BackupSize);
        state.counters["seconds"] = figures.Seconds;
    }
}

// What the child holds before any job: the program's libraries, the job
// rig's window thread and the mapped cable.
void BM_ChildBaseline(benchmark::State& state) {
    for (auto _ : state) {
        testkit::TempDir work;
        bench::SharedCalculator calculator(vcalc::CalcOptions{});
        const auto figures = bench::RunTransferChild(calculator, "idle", 3, work.Path());
        if (!figures.Ok) {
            state.SkipWithError("transfer_child did not run");
            return;
        }
        bench::Record("transfer_child_idle_peak_rss", figures.PeakMegabytes, "MB");
    }
}

BENCHMARK(BM_ChildBaseline)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiveGroup)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiveBackup)->Iterations(1)->Unit(benchmark::kMillisecond);

const bool Registered = [] {
    bench::AddFinisher([](std::map<std::string, bench::Metric>& m) {
        if (!m.count("sim_cable_send_rate") || !m.count("sim_cable_receive_rate")) return;
        for (const std::string label : {"receive_group_100x100", "receive_backup_24k"}) {
            if (!m.count(label + "_seconds")) continue;
            const double floor =
                m[label + "_fixed_pauses_seconds"].Value +
                m[label + "_link_bytes_from_pc"].Value / m["sim_cable_send_rate"].Value +
                m[label + "_link_bytes_from_calc"].Value / m["sim_cable_receive_rate"].Value;
            m[label + "_floor_seconds"] = {floor, "s"};
            m[label + "_over_floor"] = {m[label + "_seconds"].Value / floor, "x"};
        }
    });
    return true;
}();

} // namespace
