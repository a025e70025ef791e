#pragma once

// The simulated cable in memory shared by two processes: the calculator's
// end stays in the benchmark, the program's end runs in transfer_child, so
// the child's peak memory holds none of the calculator's copies (its
// transcript, its memory, the file it writes).
#include "platform/SimCable.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <new>
#include <stdexcept>

namespace lodestrum::bench {

class SharedCable {
  public:
    // A new cable on port entry 0, in a memory file the child inherits.
    SharedCable() : Fd(::memfd_create("lodestrum-bench-cable", 0)) {
        if (Fd < 0 || ::ftruncate(Fd, sizeof(platform::SimCable)) != 0)
            throw std::runtime_error("memfd");
        Map();
        new (Memory) platform::SimCable(0);
        Owner = true;
    }
    // The cable the parent built, reached through the inherited descriptor.
    explicit SharedCable(int fd) : Fd(fd) { Map(); }
    ~SharedCable() {
        if (Owner) Cable().~SimCable();
        ::munmap(Memory, sizeof(platform::SimCable));
        ::close(Fd);
    }
    SharedCable(const SharedCable&) = delete;
    SharedCable& operator=(const SharedCable&) = delete;

    platform::SimCable& Cable() { return *static_cast<platform::SimCable*>(Memory); }
    int Descriptor() const { return Fd; }

  private:
    void Map() {
        Memory =
            ::mmap(nullptr, sizeof(platform::SimCable), PROT_READ | PROT_WRITE, MAP_SHARED, Fd, 0);
        if (Memory == MAP_FAILED) throw std::runtime_error("mmap");
    }

    int Fd;
    void* Memory = nullptr;
    bool Owner = false;
};

// The program's end of a shared cable. The calls are qualified because the
// cable's vtable pointer belongs to the process that built it. It notes when
// the far end first pulls a line, which is when a calculator's transmission
// begins.
class SharedCableDriver : public platform::PortDriver {
  public:
    explicit SharedCableDriver(platform::SimCable& cable) : Cable(cable) {}

    void WritePort(uint32_t port, uint8_t value) override {
        Cable.platform::SimCable::WritePort(port, value);
    }
    uint8_t ReadPort(uint32_t port) override {
        const uint8_t value = Cable.platform::SimCable::ReadPort(port);
        if (!Pulled.load(std::memory_order_relaxed) && Cable.FarDriven() != 3) {
            FirstPull = std::chrono::steady_clock::now();
            Pulled.store(true, std::memory_order_release);
        }
        return value;
    }

    // When the far end first pulled a line; false when it never did.
    bool FarStarted(std::chrono::steady_clock::time_point& at) const {
        if (!Pulled.load(std::memory_order_acquire)) return false;
        at = FirstPull;
        return true;
    }

  private:
    platform::SimCable& Cable;
    std::atomic<bool> Pulled{false};
    std::chrono::steady_clock::time_point FirstPull{};
};

} // namespace lodestrum::bench
