#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace lodestrum::platform {

// One side's ring of the virtual link, exactly as it lies in shared memory
// (little-endian on every Linux target this builds for).
struct RingBuffer {
    uint8_t Data[256];
    uint32_t ReadIndex;  // written by the ring's reader
    uint32_t WriteIndex; // written by the ring's writer
};
static_assert(sizeof(RingBuffer) == 264);
static_assert(offsetof(RingBuffer, ReadIndex) == 256 && offsetof(RingBuffer, WriteIndex) == 260);
static_assert(alignof(RingBuffer) >= std::atomic_ref<uint32_t>::required_alignment);

// The four ring operations. Every index is masked to 0..255 as it is loaded:
// the other side is another process and may write anything there.
bool RingHasData(RingBuffer& ring);
// The next byte, or 0 without moving anything when the ring is empty.
uint8_t RingGetByte(RingBuffer& ring);
bool RingHasRoom(RingBuffer& ring);
bool RingPutByte(RingBuffer& ring, uint8_t value);

// The longest ring name: the receiver of its announcement reads 31 characters.
inline constexpr std::size_t MaxRingName = 31;
// Printable, 1 to 31 characters, no '/': what a POSIX shared-memory name allows.
bool IsValidRingName(const std::string& name);

// A 264-byte POSIX shared-memory block "/NAME" mapped read-write.
// A block counts as existing only while a live process holds an flock on it;
// its creator holds one for as long as it lives and unlinks the name at the end.
class SharedRing {
public:
    enum class Failure { None, Exists, Error };

    // Creates NAME, or takes over a stale block of that name, zeroed.
    static std::unique_ptr<SharedRing> Create(const std::string& name, Failure& failure,
                                              std::string& error);
    // The first PREFIX + N (N = 0, 1, ...) that no live process holds.
    static std::unique_ptr<SharedRing> CreateFirstFree(const std::string& prefix,
                                                       std::string& error, int limit = 1000);
    // Maps another process's block; nullptr when it is missing, too small or not ours.
    static std::unique_ptr<SharedRing> Open(const std::string& name, std::string& error);

    ~SharedRing();
    SharedRing(const SharedRing&) = delete;
    SharedRing& operator=(const SharedRing&) = delete;

    RingBuffer& Ring() { return *View; }
    const std::string& Name() const { return RingName; }
    bool Created() const { return Owner; }

private:
    SharedRing(std::string name, int fd, RingBuffer* view, bool owner)
        : RingName(std::move(name)), Fd(fd), View(view), Owner(owner) {}

    std::string RingName;
    int Fd;
    RingBuffer* View;
    bool Owner;
};

} // namespace lodestrum::platform
