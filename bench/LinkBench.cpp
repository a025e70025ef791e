// Bytes per second over the simulated cable, next to a bare two-thread
// handshake of the same shape, to show what the engine's byte layer costs.
#include "Metrics.h"
#include "platform/SimCable.h"
#include "support/JobRig.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace lodestrum;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int BlockSize = 4096;

// Runs `count` transfers of a block through a job on the sim cable, the far
// end echoing the handshake on its own thread; returns bytes per second.
double EngineRate(bool sending, int rounds) {
    platform::SimCable cable(0);
    testkit::JobRig rig;
    rig.Env.Driver = &cable;
    std::atomic<bool> done{false};
    platform::SimCableEnd end(cable);
    std::thread far([&] {
        const int total = BlockSize * rounds;
        for (int i = 0; i < total && !done; ++i) {
            if (sending)
                end.GetByte(std::chrono::seconds(10));
            else
                end.PutByte(static_cast<uint8_t>(i), std::chrono::seconds(10));
        }
    });
    std::vector<uint8_t> block(BlockSize, 0x5A);
    double seconds = 0;
    rig.StartBody([&](engine::TTransThread& job) {
        const auto start = Clock::now();
        for (int r = 0; r < rounds; ++r) {
            if (sending)
                job.SendBlock(block.data(), BlockSize);
            else
                job.ReceiveBlock(block.data(), BlockSize);
        }
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
    });
    rig.WaitEnded();
    done = true;
    end.Cancel();
    far.join();
    return BlockSize * rounds / seconds;
}

// The same four-phase handshake per bit with two atomics and nothing else.
double BareRate(int rounds) {
    std::atomic<uint8_t> pc{3}, calc{3};
    const int total = BlockSize * rounds;
    std::thread receiver([&] {
        for (int i = 0; i < total; ++i) {
            for (int bit = 0; bit < 8; ++bit) {
                uint8_t lines;
                while ((lines = pc.load() & calc.load()) == 3) {
                }
                const bool one = (lines & 1) == 0;
                calc.store(one ? 1 : 2);
                const uint8_t watched = one ? 1 : 2;
                while ((pc.load() & watched) == 0) {
                }
                calc.store(3);
            }
        }
    });
    const auto start = Clock::now();
    for (int i = 0; i < total; ++i) {
        uint8_t v = static_cast<uint8_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            while ((pc.load() & calc.load()) != 3) {
            }
            pc.store((v & 1) ? 2 : 1);
            while ((pc.load() & calc.load()) != 0) {
            }
            pc.store(3);
            v >>= 1;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    receiver.join();
    return total / seconds;
}

void BM_SimCableSendByte(benchmark::State& state) {
    double rate = 0;
    for (auto _ : state) rate = EngineRate(true, 8);
    state.counters["bytes_per_second"] = rate;
    bench::Record("sim_cable_send_rate", rate, "B/s");
}

void BM_SimCableReceiveByte(benchmark::State& state) {
    double rate = 0;
    for (auto _ : state) rate = EngineRate(false, 8);
    state.counters["bytes_per_second"] = rate;
    bench::Record("sim_cable_receive_rate", rate, "B/s");
}

void BM_BareHandshake(benchmark::State& state) {
    double rate = 0;
    for (auto _ : state) rate = BareRate(8);
    state.counters["bytes_per_second"] = rate;
    bench::Record("bare_handshake_rate", rate, "B/s");
}

BENCHMARK(BM_BareHandshake)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SimCableSendByte)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SimCableReceiveByte)->Iterations(3)->Unit(benchmark::kMillisecond);

const bool Registered = [] {
    bench::AddFinisher([](std::map<std::string, bench::Metric>& m) {
        if (m.count("bare_handshake_rate") && m.count("sim_cable_send_rate")) {
            const double bare = m["bare_handshake_rate"].Value;
            m["sim_cable_send_ratio"] = {m["sim_cable_send_rate"].Value / bare, "x"};
            if (m.count("sim_cable_receive_rate"))
                m["sim_cable_receive_ratio"] = {m["sim_cable_receive_rate"].Value / bare, "x"};
        }
    });
    return true;
}();

} // namespace
