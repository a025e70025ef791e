#include "platform/RingLink.h"

#include <thread>
#include <utility>

namespace lodestrum::platform {

// Polls, briefly spinning and then sleeping a little: the program side
// pauses 50 ms whenever it finds nothing, so this side only has to be prompt.
template <class Try>
bool RingLink::WaitFor(Try attempt, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (unsigned round = 0;; ++round) {
        if (Enabled.load() && attempt()) return true;
        if (Cancelled.load() || std::chrono::steady_clock::now() >= deadline) return false;
        if (round < 64)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

std::optional<uint8_t> RingLink::GetByte(std::chrono::milliseconds timeout) {
    uint8_t value = 0;
    const bool got = WaitFor(
        [&] {
            std::lock_guard lock(PeerMutex);
            if (!Peer || !RingHasData(Peer->Ring())) return false;
            value = RingGetByte(Peer->Ring());
            return true;
        },
        timeout);
    if (!got) return std::nullopt;
    return value;
}

bool RingLink::PutByte(uint8_t value, std::chrono::milliseconds timeout) {
    // With no program attached nobody would ever read it: a transmission of
    // the calculator's own waits for one instead of filling the ring.
    return WaitFor([&] { return Own && HasPeer() && RingPutByte(Own->Ring(), value); }, timeout);
}

void RingLink::AttachPeer(std::shared_ptr<SharedRing> peer) {
    // Bytes written before this end was there belong to nobody (a job the
    // previous emulator left half done); replaying them would garble the next packet.
    if (peer)
        for (int i = 0; i < 256 && RingHasData(peer->Ring()); ++i) RingGetByte(peer->Ring());
    std::shared_ptr<SharedRing> old;
    {
        std::lock_guard lock(PeerMutex);
        old = std::exchange(Peer, std::move(peer));
    }
    // The old mapping goes here, outside the lock, once no read can be inside it.
}

bool RingLink::HasPeer() const {
    std::lock_guard lock(PeerMutex);
    return Peer != nullptr;
}

} // namespace lodestrum::platform
