#pragma once

#include "platform/PortDriver.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace lodestrum::platform {

// Direct I/O port access, so that tests never touch real ports. Ioperm
// returns 0 or -errno.
class PortIo {
  public:
    virtual ~PortIo() = default;
    virtual int Ioperm(unsigned long from, unsigned long count, bool on) = 0;
    virtual uint8_t In(uint16_t port) = 0;
    virtual void Out(uint16_t port, uint8_t value) = 0;
};

// The processor's own port instructions; nullptr where there are none (not x86).
std::shared_ptr<PortIo> SystemPortIo();

// inb/outb on the registers of the port table, after ioperm has granted them.
// Addresses outside the granted ranges read 0xFF and swallow writes, since
// touching them would fault.
class RawDriver : public PortDriver {
  public:
    // nullptr with the reason in `error` when the processor has no I/O ports
    // or the process may not use them (CAP_SYS_RAWIO).
    static std::unique_ptr<RawDriver> Create(std::shared_ptr<PortIo> io, std::string& error);
    ~RawDriver() override;

    RawDriver(const RawDriver&) = delete;
    RawDriver& operator=(const RawDriver&) = delete;

    void WritePort(uint32_t port, uint8_t value) override;
    uint8_t ReadPort(uint32_t port) override;

    // The [first, first + count) address ranges the driver holds.
    static std::vector<std::pair<uint32_t, uint32_t>> Ranges();

  private:
    explicit RawDriver(std::shared_ptr<PortIo> io) : Io(std::move(io)) {}
    static bool Granted(uint32_t port);

    std::shared_ptr<PortIo> Io;
};

// The "raw" factory.
std::unique_ptr<PortDriver> CreateRawDriver(std::string& error);

} // namespace lodestrum::platform
