#include "platform/SimCable.h"

#include "platform/LinkPorts.h"

#include <algorithm>
#include <thread>

namespace lodestrum::platform {

SimCable::SimCable(int pluggedEntry)
    : Entry(IsValidLinkPortIndex(pluggedEntry) ? pluggedEntry : 0), Out(OutPortOf(Entry)),
      In(InPortOf(Entry)) {}

void SimCable::WritePort(uint32_t port, uint8_t value) {
    if (port != Out) return;
    ReadsAtWrite.store(Reads.load());
    // One store, so the far end never sees the new lines with the old count.
    uint32_t state = State.load();
    while (!State.compare_exchange_weak(state, (state & ~3u) + 4 + (value & 3u))) {
    }
    uint8_t reflex = Reflex.load();
    if (reflex && (value & reflex) == reflex && Reflex.compare_exchange_strong(reflex, 0))
        Far.store(3);
}

uint8_t SimCable::ReadPort(uint32_t port) {
    if (port != In) return 0xFF;
    Reads.fetch_add(1);
    const uint8_t lines = Lines();
    // A PC polling lines that do not move gives the far end's thread its turn
    // now and then: where the two threads share a core, pure spinning would
    // leave the calculator waiting for the PC's time slice to run out, a
    // whole slice for every bit.
    thread_local uint8_t lastLines = 0xFF;
    thread_local unsigned sameReads = 0;
    if (lines != lastLines) {
        lastLines = lines;
        sameReads = 0;
    } else if (++sameReads % 256 == 0) {
        std::this_thread::yield();
    }
    uint8_t value = 0xFF & ~(InLineA | InLineB);
    if (lines & OutLineA) value |= InLineA;
    if (lines & OutLineB) value |= InLineB;
    return value;
}

namespace {

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

} // namespace

// Spins briefly (a handshake step usually completes within microseconds),
// then yields, then sleeps, so a calculator that waits a long time does not
// starve the PC side of a processor.
template <class Pred>
bool SimCableEnd::WaitFor(Pred pred, std::chrono::steady_clock::time_point deadline) {
    for (unsigned spin = 0;; ++spin) {
        if (pred()) return true;
        if (Cancelled.load(std::memory_order_relaxed)) return false;
        if (spin < 256) {
            CpuRelax();
            continue;
        }
        if ((spin & 63) == 0 && std::chrono::steady_clock::now() >= deadline) return pred();
        if (spin < 20000)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
}

void SimCableEnd::AbsorbReset() {
    Cable.FarDrive(3);
    ResetSeen.store(true);
    const auto deadline = std::chrono::steady_clock::now() + BitTimeout;
    WaitFor([&] { return Cable.Lines() == 3; }, deadline);
}

std::optional<uint8_t> SimCableEnd::GetByte(std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    Cable.CancelReflex();
    Cable.FarDrive(3);
    uint8_t value = 0;
    for (int bit = 0; bit < 8; ++bit) {
        const auto deadline = Clock::now() + (bit == 0 ? timeout : BitTimeout);
        if (!WaitFor([&] { return Cable.Lines() != 3; }, deadline)) return std::nullopt;
        if (Cable.Lines() == 0) {
            // Both lines pulled at once is no bit: it is the PC's line reset.
            AbsorbReset();
            return std::nullopt;
        }
        const bool one = (Cable.Lines() & OutLineA) == 0;
        const uint8_t watched = one ? OutLineA : OutLineB;
        Cable.ReleaseWhenPcReleases(watched);
        Cable.FarDrive(one ? OutLineA : OutLineB); // pull the other line
        const auto release = Clock::now() + BitTimeout;
        WaitFor([&] { return Cable.FarDriven() == 3 || Cable.PcDriven() == 0; }, release);
        // The reflex fired: the bit is complete, whatever the PC does next.
        Cable.CancelReflex();
        if (Cable.FarDriven() != 3) {
            if (Cable.PcDriven() == 0)
                AbsorbReset(); // the PC pulled its other line too: a line reset
            else
                Cable.FarDrive(3);
            return std::nullopt;
        }
        value = static_cast<uint8_t>((value >> 1) | (one ? 0x80 : 0));
    }
    return value;
}

bool SimCableEnd::PutByte(uint8_t value, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    Cable.CancelReflex();
    Cable.FarDrive(3);
    for (int bit = 0; bit < 8; ++bit) {
        const auto deadline = Clock::now() + (bit == 0 ? timeout : BitTimeout);
        if (!WaitFor([&] { return Cable.Lines() == 3 || Cable.PcDriven() == 0; }, deadline) ||
            Cable.PcDriven() == 0) {
            if (Cable.PcDriven() == 0) AbsorbReset();
            return false;
        }
        const bool one = (value & 1) != 0;
        Cable.FarDrive(one ? OutLineB : OutLineA); // 1: LineA low, 0: LineB low
        const auto ack = Clock::now() + BitTimeout;
        uint32_t seen = 0;
        const auto acknowledged = [&] {
            seen = Cable.PcState();
            return (SimCable::PcLines(seen) & Cable.FarDriven()) == 0;
        };
        if (!WaitFor(acknowledged, ack)) {
            Cable.FarDrive(3);
            return false;
        }
        // The PC acknowledges with one line; both of its lines low is its line reset.
        if (SimCable::PcLines(seen) == 0) {
            AbsorbReset();
            return false;
        }
        // The PC holds its acknowledgement until it sees this release; its next
        // write lets go of it. Waiting for that write keeps whatever this end
        // does next from mistaking the acknowledgement for a bit. The count is
        // the one of the acknowledging write itself, taken with its lines.
        const uint32_t writes = SimCable::PcWriteCount(seen);
        Cable.FarDrive(3);
        WaitFor([&] { return Cable.PcWrites() != writes; }, Clock::now() + BitTimeout);
        // A real calculator takes a moment before its next bit, and the PC looks
        // for idle lines right after its release: a next bit pulled before that
        // look costs the PC a millisecond's pause. Wait for the look.
        WaitFor([&] { return Cable.PcReads() != Cable.PcReadsAtLastWrite(); },
                Clock::now() + std::min(BitTimeout, std::chrono::milliseconds(5)));
        value >>= 1;
    }
    return true;
}

} // namespace lodestrum::platform
