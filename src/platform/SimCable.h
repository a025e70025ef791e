#pragma once

#include "platform/PortDriver.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

namespace lodestrum::platform {

// A byte pipe as seen from the calculator's end of a link. Every wait is
// bounded, so a peer that stops talking never hangs the calculator.
class ByteLink {
public:
    virtual ~ByteLink() = default;
    // nullopt when nothing arrived in time, or when the PC reset the line.
    virtual std::optional<uint8_t> GetByte(std::chrono::milliseconds timeout) = 0;
    // false when the PC did not take the byte in time.
    virtual bool PutByte(uint8_t value, std::chrono::milliseconds timeout) = 0;
    // True once after the PC held both lines low (the end-of-job line reset).
    virtual bool TakeReset() = 0;
};

// A simulated two-wire cable plugged into one entry of the port table. Each
// line reads as the AND of what both ends drive; the PC drives it through the
// driver entry points, the far end through the methods below, from another
// thread. The other ports read as nothing connected (all bits high).
class SimCable : public PortDriver {
public:
    explicit SimCable(int pluggedEntry = 0);

    void WritePort(uint32_t port, uint8_t value) override;
    uint8_t ReadPort(uint32_t port) override;

    int PluggedEntry() const { return Entry; }

    // Far end. Line bits: 0x01 LineA, 0x02 LineB; 1 released, 0 pulled.
    void FarDrive(uint8_t lines) { Far.store(lines & 3, std::memory_order_release); }
    uint8_t FarDriven() const { return Far.load(std::memory_order_acquire); }
    uint8_t PcDriven() const { return PcLines(PcState()); }
    uint8_t Lines() const { return PcDriven() & FarDriven(); }
    // Counts the PC's writes to the plugged port, so the far end can tell it
    // has moved even when it moved twice between two looks.
    uint32_t PcWrites() const { return PcWriteCount(PcState()); }
    // What the PC drives and how many writes it took, in one look: a count
    // read apart from the lines could belong to the write before the one seen.
    uint32_t PcState() const { return State.load(std::memory_order_acquire); }
    static uint8_t PcLines(uint32_t state) { return static_cast<uint8_t>(state & 3); }
    static uint32_t PcWriteCount(uint32_t state) { return state >> 2; }
    // Counts the PC's reads of the plugged port's lines, and the count its
    // last write found, so the far end can tell the PC has looked since.
    uint32_t PcReads() const { return Reads.load(); }
    uint32_t PcReadsAtLastWrite() const { return ReadsAtWrite.load(); }
    // The far end's acknowledgement reflex: the moment the PC releases one of
    // these lines, the far end releases both of its own. A receiver must let
    // go of its acknowledgement as the sender lets go of its bit, or the
    // sender's next read would take the acknowledgement for a new bit.
    void ReleaseWhenPcReleases(uint8_t lines) { Reflex.store(lines & 3); }
    void CancelReflex() { Reflex.store(0); }

private:
    int Entry;
    uint32_t Out;
    uint32_t In;
    std::atomic<uint32_t> State{3}; // write count << 2 | lines driven
    std::atomic<uint8_t> Far{3};
    std::atomic<uint32_t> Reads{0};
    std::atomic<uint32_t> ReadsAtWrite{0};
    std::atomic<uint8_t> Reflex{0};
};

// The calculator's side of the bit handshake over a SimCable.
class SimCableEnd : public ByteLink {
public:
    explicit SimCableEnd(SimCable& cable) : Cable(cable) {}

    std::optional<uint8_t> GetByte(std::chrono::milliseconds timeout) override;
    bool PutByte(uint8_t value, std::chrono::milliseconds timeout) override;
    bool TakeReset() override { return ResetSeen.exchange(false); }

    // The longest wait between the bits of one byte before the byte is dropped.
    void SetBitTimeout(std::chrono::milliseconds timeout) { BitTimeout = timeout; }
    // Asks every wait in progress to give up (used when the calculator shuts down).
    void Cancel() { Cancelled.store(true); }

private:
    template <class Pred>
    bool WaitFor(Pred pred, std::chrono::steady_clock::time_point deadline);
    void AbsorbReset();

    SimCable& Cable;
    std::chrono::milliseconds BitTimeout{2000};
    std::atomic<bool> ResetSeen{false};
    std::atomic<bool> Cancelled{false};
};

} // namespace lodestrum::platform
