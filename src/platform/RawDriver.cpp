#include "platform/RawDriver.h"

#include "platform/LinkPorts.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <system_error>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define LODESTRUM_HAVE_PORT_IO 1
#endif

namespace lodestrum::platform {

namespace {

#ifdef LODESTRUM_HAVE_PORT_IO
class SystemIo : public PortIo {
  public:
    int Ioperm(unsigned long from, unsigned long count, bool on) override {
        return ::ioperm(from, count, on ? 1 : 0) < 0 ? -errno : 0;
    }
    uint8_t In(uint16_t port) override { return ::inb(port); }
    void Out(uint16_t port, uint8_t value) override { ::outb(value, port); }
};
#endif

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

// From each entry's output register to its input register: all the engine
// touches, and no more than that is asked of the kernel.
constexpr std::array<std::pair<uint32_t, uint32_t>, LinkPortCount> TableRanges = [] {
    std::array<std::pair<uint32_t, uint32_t>, LinkPortCount> ranges{};
    for (int i = 0; i < LinkPortCount; ++i)
        ranges[i] = {OutPortOf(i), InPortOf(i) - OutPortOf(i) + 1};
    return ranges;
}();

} // namespace

std::shared_ptr<PortIo> SystemPortIo() {
#ifdef LODESTRUM_HAVE_PORT_IO
    return std::make_shared<SystemIo>();
#else
    return nullptr;
#endif
}

std::vector<std::pair<uint32_t, uint32_t>> RawDriver::Ranges() {
    return {TableRanges.begin(), TableRanges.end()};
}

bool RawDriver::Granted(uint32_t port) {
    for (const auto& [first, count] : TableRanges)
        if (port >= first && port < first + count) return true;
    return false;
}

std::unique_ptr<RawDriver> RawDriver::Create(std::shared_ptr<PortIo> io, std::string& error) {
    if (!io) {
        error = "the raw port driver needs an x86 processor; use the dev driver "
                "(LODESTRUM_PORT_DRIVER=dev)";
        return nullptr;
    }
    const auto& ranges = TableRanges;
    for (size_t i = 0; i < ranges.size(); ++i) {
        const auto [first, count] = ranges[i];
        const int result = io->Ioperm(first, count, true);
        if (result == 0) continue;
        for (size_t j = 0; j < i; ++j)
            io->Ioperm(ranges[j].first, ranges[j].second, false);
        const int err = -result;
        const std::string why = std::error_code(err, std::generic_category()).message();
        if (err == EPERM || err == EACCES)
            error = "the raw port driver needs the CAP_SYS_RAWIO capability (ioperm " + Hex(first) +
                    ": " + why +
                    "); run it as root or use the dev driver (LODESTRUM_PORT_DRIVER=dev)";
        else
            error = "the raw port driver cannot reach port " + Hex(first) + ": " + why +
                    "; use the dev driver (LODESTRUM_PORT_DRIVER=dev)";
        return nullptr;
    }
    error.clear();
    return std::unique_ptr<RawDriver>(new RawDriver(std::move(io)));
}

RawDriver::~RawDriver() {
    for (const auto& [first, count] : TableRanges)
        Io->Ioperm(first, count, false);
}

void RawDriver::WritePort(uint32_t port, uint8_t value) {
    if (Granted(port)) Io->Out(static_cast<uint16_t>(port), value);
}

uint8_t RawDriver::ReadPort(uint32_t port) {
    return Granted(port) ? Io->In(static_cast<uint16_t>(port)) : 0xFF;
}

std::unique_ptr<PortDriver> CreateRawDriver(std::string& error) {
    return RawDriver::Create(SystemPortIo(), error);
}

} // namespace lodestrum::platform
