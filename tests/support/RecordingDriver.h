#pragma once

#include "platform/PortDriver.h"

#include <chrono>
#include <mutex>
#include <vector>

namespace lodestrum::testkit {

// Passes every access on to another driver (or plays an empty port) and keeps
// the writes in order with their times, for tests that assert line sequences.
class RecordingDriver : public platform::PortDriver {
public:
    struct Write {
        uint32_t Port;
        uint8_t Value;
        std::chrono::steady_clock::time_point At;
    };

    explicit RecordingDriver(platform::PortDriver* inner = nullptr) : Inner(inner) {}

    void WritePort(uint32_t port, uint8_t value) override;
    uint8_t ReadPort(uint32_t port) override;

    std::vector<Write> Writes() const;
    std::vector<uint8_t> ValuesWrittenTo(uint32_t port) const;
    long Reads() const;
    void Clear();
    // Without an inner driver, what reads return for each port.
    void SetReadValue(uint8_t value) { ReadValue = value; }

private:
    platform::PortDriver* Inner;
    mutable std::mutex Mutex;
    std::vector<Write> Log;
    long ReadCount = 0;
    uint8_t ReadValue = 0xFF;
};

} // namespace lodestrum::testkit
