#pragma once

#include <cstdint>

namespace lodestrum::engine {

// The program's side of the virtual link to an emulator: its own ring it
// writes and the emulator's ring it reads. Used only by the running job's worker.
class VirtualCable {
public:
    virtual ~VirtualCable() = default;
    virtual bool RingHasData() = 0;
    virtual uint8_t RingGetByte() = 0;
    virtual bool RingHasRoom() = 0;
    virtual bool RingPutByte(uint8_t value) = 0;
};

} // namespace lodestrum::engine
