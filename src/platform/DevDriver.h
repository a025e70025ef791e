#pragma once

#include "platform/LinkPorts.h"
#include "platform/PortDriver.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace lodestrum::platform {

// The kernel calls of the dev driver, so that tests can stand in for devices.
// Each returns what the system call returns, except that a failure returns
// -errno instead of -1 (a fake then needs no errno).
class DeviceKernel {
  public:
    virtual ~DeviceKernel() = default;
    virtual int Open(const std::string& path, int flags) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual int Close(int fd) = 0;
};

std::shared_ptr<DeviceKernel> SystemDeviceKernel();

// Receives a driver's one-line complaints; the front ends send them to stderr.
using DriverReport = std::function<void(const std::string& line)>;
void ReportToStderr(const std::string& line);

// LODESTRUM_PORTS, e.g. "0x3F8=/dev/ttyUSB0,0x378=/dev/parport1": the base
// address of a table entry and the device that stands for it.
struct PortOverrides {
    std::map<uint32_t, std::string> Devices;
    std::vector<std::string> Problems; // one text per entry that was ignored
};
PortOverrides ParsePortOverrides(std::string_view text);

// Maps the table's registers to kernel devices: the parallel entries'
// data/status registers to ppdev, the serial entries' modem control/status
// registers to the tty modem-line ioctls. Only OutPortOf(i) is written and
// only InPortOf(i) is read; every other address is nothing connected.
class DevDriver : public PortDriver {
  public:
    DevDriver(std::shared_ptr<DeviceKernel> kernel,
              const std::map<uint32_t, std::string>& overrides = {},
              DriverReport report = ReportToStderr);
    ~DevDriver() override;

    DevDriver(const DevDriver&) = delete;
    DevDriver& operator=(const DevDriver&) = delete;

    // Reads LODESTRUM_PORTS and reports each malformed entry once.
    static std::unique_ptr<DevDriver> FromEnvironment(std::shared_ptr<DeviceKernel> kernel,
                                                      DriverReport report = ReportToStderr);

    void WritePort(uint32_t port, uint8_t value) override;
    uint8_t ReadPort(uint32_t port) override;

    std::string DevicePathOf(int index) const;

  private:
    enum class DeviceState { Unopened, Ready, Failed };

    struct Device {
        std::string Path;
        PortKind Kind;
        int Entry; // the first entry that uses it, for messages
        DeviceState State = DeviceState::Unopened;
        int Fd = -1;
        bool IoctlFailureReported = false;
    };

    Device* DeviceFor(int index);
    bool Ensure(Device& device);
    bool Call(Device& device, unsigned long request, void* arg, const char* what);
    void Say(const std::string& line);

    std::shared_ptr<DeviceKernel> Kernel;
    DriverReport Report;
    std::vector<Device> Devices;
    std::array<int, LinkPortCount> EntryDevice{};
    // The window thread and the worker may both reach the port.
    std::mutex Mutex;
};

// The "dev" factory: the real kernel, overrides from the environment.
std::unique_ptr<PortDriver> CreateDevDriver(std::string& error);

} // namespace lodestrum::platform
