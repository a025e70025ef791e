#include "platform/SimCable.h"

#include "platform/LinkPorts.h"

#include <thread>

namespace lodestrum::platform {

SimCable::SimCable(int pluggedEntry)
    : Entry(IsValidLinkPortIndex(pluggedEntry) ? pluggedEntry : 0), Out(OutPortOf(Entry)),
      In(InPortOf(Entry)) {}

void SimCable::WritePort(uint32_t port, uint8_t value) {
    if (port == Out) Pc.store(value & 3, std::memory_order_release);
}

uint8_t SimCable::ReadPort(uint32_t port) {
    if (port != In) return 0xFF;
    const uint8_t lines = Lines();
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
    Cable.FarDrive(3);
    uint8_t value = 0;
    for (int bit = 0; bit < 8; ++bit) {
        const auto deadline = Clock::now() + (bit == 0 ? timeout : BitTimeout);
        if (!WaitFor([&] { return Cable.Lines() != 3; }, deadline)) return std::nullopt;
        uint8_t lines = Cable.Lines();
        if (lines == 0) {
            // Both lines pulled at once is no bit: it is the PC's line reset.
            AbsorbReset();
            return std::nullopt;
        }
        const bool one = (lines & OutLineA) == 0;
        Cable.FarDrive(one ? OutLineA : OutLineB); // pull the other line
        const uint8_t watched = one ? OutLineA : OutLineB;
        const auto release = Clock::now() + BitTimeout;
        if (!WaitFor([&] { return (Cable.PcDriven() & watched) != 0; }, release)) {
            Cable.FarDrive(3);
            return std::nullopt;
        }
        Cable.FarDrive(3);
        value = static_cast<uint8_t>((value >> 1) | (one ? 0x80 : 0));
    }
    return value;
}

bool SimCableEnd::PutByte(uint8_t value, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    Cable.FarDrive(3);
    for (int bit = 0; bit < 8; ++bit) {
        const auto deadline = Clock::now() + (bit == 0 ? timeout : BitTimeout);
        if (!WaitFor([&] { return Cable.Lines() == 3; }, deadline)) return false;
        const bool one = (value & 1) != 0;
        Cable.FarDrive(one ? OutLineB : OutLineA); // 1: LineA low, 0: LineB low
        const auto ack = Clock::now() + BitTimeout;
        if (!WaitFor([&] { return Cable.Lines() == 0; }, ack)) {
            Cable.FarDrive(3);
            return false;
        }
        Cable.FarDrive(3);
        value >>= 1;
    }
    return true;
}

} // namespace lodestrum::platform
