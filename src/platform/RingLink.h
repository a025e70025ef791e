#pragma once

#include "platform/SharedRing.h"
#include "platform/SimCable.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace lodestrum::platform {

// The emulator's end of the virtual link as a ByteLink: it writes its own
// ring and reads the program's ring, which the message thread attaches and
// replaces while the calculator runs. The virtual link has no line reset.
class RingLink : public ByteLink {
public:
    explicit RingLink(std::shared_ptr<SharedRing> own) : Own(std::move(own)) {}

    std::optional<uint8_t> GetByte(std::chrono::milliseconds timeout) override;
    bool PutByte(uint8_t value, std::chrono::milliseconds timeout) override;
    bool TakeReset() override { return false; }

    // The program's ring; nullptr detaches it. Bytes are put only while one is attached.
    void AttachPeer(std::shared_ptr<SharedRing> peer);
    bool HasPeer() const;
    // A switched-off cable carries nothing either way.
    void SetEnabled(bool on) { Enabled.store(on); }
    bool IsEnabled() const { return Enabled.load(); }
    // Asks every wait in progress to give up.
    void Cancel() { Cancelled.store(true); }

private:
    template <class Try>
    bool WaitFor(Try attempt, std::chrono::milliseconds timeout);

    std::shared_ptr<SharedRing> Own;
    mutable std::mutex PeerMutex;
    std::shared_ptr<SharedRing> Peer;
    std::atomic<bool> Enabled{true};
    std::atomic<bool> Cancelled{false};
};

} // namespace lodestrum::platform
