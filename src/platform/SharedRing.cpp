#include "platform/SharedRing.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lodestrum::platform {

namespace {

uint32_t LoadIndex(uint32_t& index, std::memory_order order) {
    return std::atomic_ref<uint32_t>(index).load(order) & 0xFF;
}

void StoreIndex(uint32_t& index, uint32_t value) {
    std::atomic_ref<uint32_t>(index).store(value & 0xFF, std::memory_order_release);
}

std::string ObjectName(const std::string& name) { return "/" + name; }

RingBuffer* MapRing(int fd) {
    void* p = ::mmap(nullptr, sizeof(RingBuffer), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return p == MAP_FAILED ? nullptr : static_cast<RingBuffer*>(p);
}

bool SameObject(int fd, const std::string& name) {
    const int again = ::shm_open(ObjectName(name).c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (again < 0) return false;
    struct stat a {}, b {};
    const bool same = ::fstat(fd, &a) == 0 && ::fstat(again, &b) == 0 && a.st_dev == b.st_dev &&
                      a.st_ino == b.st_ino;
    ::close(again);
    return same;
}

std::string Reason(const std::string& name, const char* what) {
    return "\"" + name + "\": " + what + ": " + std::strerror(errno);
}

} // namespace

bool RingHasData(RingBuffer& ring) {
    return LoadIndex(ring.ReadIndex, std::memory_order_relaxed) !=
           LoadIndex(ring.WriteIndex, std::memory_order_acquire);
}

uint8_t RingGetByte(RingBuffer& ring) {
    const uint32_t read = LoadIndex(ring.ReadIndex, std::memory_order_relaxed);
    if (read == LoadIndex(ring.WriteIndex, std::memory_order_acquire)) return 0;
    const uint8_t value = ring.Data[read];
    StoreIndex(ring.ReadIndex, read + 1);
    return value;
}

bool RingHasRoom(RingBuffer& ring) {
    const uint32_t write = LoadIndex(ring.WriteIndex, std::memory_order_relaxed);
    return ((write + 1) & 0xFF) != LoadIndex(ring.ReadIndex, std::memory_order_acquire);
}

bool RingPutByte(RingBuffer& ring, uint8_t value) {
    const uint32_t write = LoadIndex(ring.WriteIndex, std::memory_order_relaxed);
    if (((write + 1) & 0xFF) == LoadIndex(ring.ReadIndex, std::memory_order_acquire))
        return false;
    ring.Data[write] = value;
    StoreIndex(ring.WriteIndex, write + 1);
    return true;
}

bool IsValidRingName(const std::string& name) {
    if (name.empty() || name.size() > MaxRingName) return false;
    for (unsigned char c : name)
        if (c < 0x20 || c > 0x7E || c == '/') return false;
    return name != "." && name != "..";
}

std::unique_ptr<SharedRing> SharedRing::Create(const std::string& name, Failure& failure,
                                               std::string& error) {
    failure = Failure::Error;
    if (!IsValidRingName(name)) {
        error = "bad ring name";
        return nullptr;
    }
    // A block whose name went away between our open and our lock (its
    // creator was unlinking it) is not the one the name means: try again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd =
            ::shm_open(ObjectName(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            // Someone else's block of that name: for us it exists.
            if (errno == EACCES) failure = Failure::Exists;
            error = Reason(name, "shm_open");
            return nullptr;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            failure = errno == EWOULDBLOCK ? Failure::Exists : Failure::Error;
            error = Reason(name, "flock");
            ::close(fd);
            return nullptr;
        }
        if (!SameObject(fd, name)) {
            ::close(fd);
            continue;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid() || !S_ISREG(st.st_mode)) {
            failure = Failure::Exists;
            error = "\"" + name + "\" belongs to another user";
            ::close(fd);
            return nullptr;
        }
        // Never shrink: an emulator may still map a stale block, and a
        // shrunk mapping would fault under it.
        if (st.st_size < static_cast<off_t>(sizeof(RingBuffer)) &&
            ::ftruncate(fd, sizeof(RingBuffer)) != 0) {
            error = Reason(name, "ftruncate");
            ::close(fd);
            return nullptr;
        }
        RingBuffer* view = MapRing(fd);
        if (!view) {
            error = Reason(name, "mmap");
            ::close(fd);
            return nullptr;
        }
        std::memset(static_cast<void*>(view), 0, sizeof(RingBuffer));
        failure = Failure::None;
        return std::unique_ptr<SharedRing>(new SharedRing(name, fd, view, true));
    }
    error = "\"" + name + "\" keeps changing";
    return nullptr;
}

std::unique_ptr<SharedRing> SharedRing::CreateFirstFree(const std::string& prefix,
                                                        std::string& error, int limit) {
    for (int n = 0; n < limit; ++n) {
        Failure failure;
        auto ring = Create(prefix + std::to_string(n), failure, error);
        if (ring) return ring;
        if (failure == Failure::Error) return nullptr;
    }
    error = "no free ring name";
    return nullptr;
}

std::unique_ptr<SharedRing> SharedRing::Open(const std::string& name, std::string& error) {
    if (!IsValidRingName(name)) {
        error = "bad ring name";
        return nullptr;
    }
    const int fd = ::shm_open(ObjectName(name).c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0);
    if (fd < 0) {
        error = Reason(name, "shm_open");
        return nullptr;
    }
    // A block shorter than a ring would fault on the first access past its end.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        st.st_size < static_cast<off_t>(sizeof(RingBuffer))) {
        error = "\"" + name + "\" is not a ring of this user";
        ::close(fd);
        return nullptr;
    }
    RingBuffer* view = MapRing(fd);
    if (!view) {
        error = Reason(name, "mmap");
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<SharedRing>(new SharedRing(name, fd, view, false));
}

SharedRing::~SharedRing() {
    ::munmap(View, sizeof(RingBuffer));
    if (Owner && SameObject(Fd, RingName)) ::shm_unlink(ObjectName(RingName).c_str());
    ::close(Fd);
}

} // namespace lodestrum::platform
