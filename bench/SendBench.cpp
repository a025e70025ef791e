// A 24,000-byte TI-83 variable sent end to end over the simulated cable, next
// to its floor: the fixed pauses of the route and of the end of the job, plus
// the bytes at the rate the byte benchmark measures in the same run.
#include "Metrics.h"
#include "files/Ti8xFile.h"
#include "support/SendRig.h"

#include <benchmark/benchmark.h>

#include <chrono>

using namespace lodestrum;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t VariableSize = 24000;

// 30 ms before and after the ACK that answers CTS, 20 ms inside it, 30 ms before
// the DATA packet's ACK is read, 20 ms inside the EOT exchange, 150 ms after it,
// and the 15 ms line hold of the end of the job.
constexpr double FixedPausesSeconds = (30 + 20 + 30 + 30 + 20 + 150 + 15) / 1000.0;

void BM_SendTi83Variable(benchmark::State& state) {
    std::vector<uint8_t> header = {static_cast<uint8_t>(VariableSize & 0xFF),
                                   static_cast<uint8_t>(VariableSize >> 8), 0x05, 'B', 'I', 'G'};
    header.resize(11, 0);
    std::vector<uint8_t> data(VariableSize);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31);
    const auto image = files::BuildTi8xFile(3, files::Ti8xComment::Transferred,
                                            {files::Ti8xVariable{header, {data}}});
    double seconds = 0;
    std::size_t bytesOnLink = 0;
    for (auto _ : state) {
        testkit::SendRig rig(vcalc::Model::TI83);
        const auto path = rig.Work.Write("BIG.83P", image);
        const auto start = Clock::now();
        rig.Send(path);
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
        bytesOnLink = 0;
        for (const auto& p : rig.Calculator().Transcript()) bytesOnLink += 4 + (p.Data.empty() ? 0 : p.Data.size() + 2);
    }
    state.counters["seconds"] = seconds;
    bench::Record("send_ti83_24000_seconds", seconds, "s");
    bench::Record("send_ti83_24000_link_bytes", static_cast<double>(bytesOnLink), "B");
}

BENCHMARK(BM_SendTi83Variable)->Iterations(3)->Unit(benchmark::kMillisecond);

const bool Registered = [] {
    bench::AddFinisher([](std::map<std::string, bench::Metric>& m) {
        if (!m.count("send_ti83_24000_seconds") || !m.count("sim_cable_send_rate")) return;
        const double floor =
            FixedPausesSeconds + m["send_ti83_24000_link_bytes"].Value / m["sim_cable_send_rate"].Value;
        m["send_ti83_24000_floor_seconds"] = {floor, "s"};
        m["send_ti83_24000_over_floor"] = {m["send_ti83_24000_seconds"].Value / floor, "x"};
    });
    return true;
}();

} // namespace
