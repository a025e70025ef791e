#include "support/RecordingDriver.h"

namespace lodestrum::testkit {

void RecordingDriver::WritePort(uint32_t port, uint8_t value) {
    {
        std::lock_guard lock(Mutex);
        Log.push_back({port, value, std::chrono::steady_clock::now()});
    }
    if (Inner) Inner->WritePort(port, value);
}

uint8_t RecordingDriver::ReadPort(uint32_t port) {
    {
        std::lock_guard lock(Mutex);
        ++ReadCount;
    }
    return Inner ? Inner->ReadPort(port) : ReadValue;
}

std::vector<RecordingDriver::Write> RecordingDriver::Writes() const {
    std::lock_guard lock(Mutex);
    return Log;
}

std::vector<uint8_t> RecordingDriver::ValuesWrittenTo(uint32_t port) const {
    std::vector<uint8_t> values;
    for (const auto& w : Writes())
        if (w.Port == port) values.push_back(w.Value);
    return values;
}

long RecordingDriver::Reads() const {
    std::lock_guard lock(Mutex);
    return ReadCount;
}

void RecordingDriver::Clear() {
    std::lock_guard lock(Mutex);
    Log.clear();
    ReadCount = 0;
}

} // namespace lodestrum::testkit
