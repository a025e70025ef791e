#include "platform/DevDriver.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace lodestrum::platform {

namespace {

class SystemKernel : public DeviceKernel {
  public:
    int Open(const std::string& path, int flags) override {
        int fd;
        do
            fd = ::open(path.c_str(), flags);
        while (fd < 0 && errno == EINTR);
        return fd < 0 ? -errno : fd;
    }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        int result;
        do
            result = ::ioctl(fd, request, arg);
        while (result < 0 && errno == EINTR);
        return result < 0 ? -errno : result;
    }
    int Close(int fd) override { return ::close(fd) < 0 ? -errno : 0; }
};

std::string ErrorText(int err) {
    return std::error_code(err, std::generic_category()).message();
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

int EntryWithBase(uint32_t base) {
    for (int i = 0; i < LinkPortCount; ++i)
        if (LinkPort[i].Base == base) return i;
    return -1;
}

std::string DefaultDevicePath(int index) {
    return index < 4 ? "/dev/parport" + std::to_string(index)
                     : "/dev/ttyS" + std::to_string(index - 4);
}

} // namespace

std::shared_ptr<DeviceKernel> SystemDeviceKernel() {
    return std::make_shared<SystemKernel>();
}

void ReportToStderr(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
}

PortOverrides ParsePortOverrides(std::string_view text) {
    PortOverrides result;
    while (!text.empty()) {
        const size_t comma = text.find(',');
        const std::string_view item = Trim(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        if (item.empty()) continue;

        const auto reject = [&](const char* why) {
            result.Problems.push_back("LODESTRUM_PORTS: ignored '" + std::string(item) +
                                      "': " + why);
        };
        const size_t equals = item.find('=');
        if (equals == std::string_view::npos) {
            reject("expected ADDRESS=DEVICE");
            continue;
        }
        std::string_view address = Trim(item.substr(0, equals));
        const std::string_view path = Trim(item.substr(equals + 1));
        if (address.size() < 3 || address[0] != '0' || (address[1] != 'x' && address[1] != 'X')) {
            reject("the address must be written in hex, e.g. 0x3F8");
            continue;
        }
        address.remove_prefix(2);
        uint32_t base = 0;
        const auto [end, ec] =
            std::from_chars(address.data(), address.data() + address.size(), base, 16);
        if (ec != std::errc{} || end != address.data() + address.size()) {
            reject("the address must be written in hex, e.g. 0x3F8");
            continue;
        }
        if (EntryWithBase(base) < 0) {
            reject("not the base address of a port (0x378, 0x278, 0x3BC, 0x2BC, 0x3F8, 0x2F8, "
                   "0x3E8, 0x2E8)");
            continue;
        }
        if (path.empty()) {
            reject("no device given");
            continue;
        }
        result.Devices[base] = std::string(path);
    }
    return result;
}

DevDriver::DevDriver(std::shared_ptr<DeviceKernel> kernel,
                     const std::map<uint32_t, std::string>& overrides, DriverReport report)
    : Kernel(std::move(kernel)), Report(std::move(report)) {
    for (int i = 0; i < LinkPortCount; ++i) {
        const auto found = overrides.find(LinkPort[i].Base);
        const std::string path = found != overrides.end() ? found->second : DefaultDevicePath(i);
        // Two entries mapped to one device share it: a second PPCLAIM on the
        // same port from this process would wait forever for the first.
        int shared = -1;
        for (size_t d = 0; d < Devices.size(); ++d)
            if (Devices[d].Path == path && Devices[d].Kind == LinkPort[i].Kind)
                shared = static_cast<int>(d);
        if (shared < 0) {
            Devices.push_back({path, LinkPort[i].Kind, i});
            shared = static_cast<int>(Devices.size() - 1);
        }
        EntryDevice[i] = shared;
    }
}

DevDriver::~DevDriver() {
    for (Device& device : Devices) {
        if (device.State != DeviceState::Ready) continue;
        if (device.Kind == PortKind::Parallel) Kernel->Ioctl(device.Fd, PPRELEASE, nullptr);
        Kernel->Close(device.Fd);
    }
}

std::unique_ptr<DevDriver> DevDriver::FromEnvironment(std::shared_ptr<DeviceKernel> kernel,
                                                      DriverReport report) {
    PortOverrides overrides;
    if (const char* text = std::getenv("LODESTRUM_PORTS")) overrides = ParsePortOverrides(text);
    for (const std::string& problem : overrides.Problems)
        if (report) report("lodestrum: " + problem);
    return std::make_unique<DevDriver>(std::move(kernel), overrides.Devices, std::move(report));
}

std::string DevDriver::DevicePathOf(int index) const {
    if (!IsValidLinkPortIndex(index)) return {};
    return Devices[EntryDevice[index]].Path;
}

void DevDriver::Say(const std::string& line) {
    if (Report) Report(line);
}

DevDriver::Device* DevDriver::DeviceFor(int index) {
    return &Devices[EntryDevice[index]];
}

bool DevDriver::Ensure(Device& device) {
    if (device.State == DeviceState::Ready) return true;
    if (device.State == DeviceState::Failed) return false;

    const bool parallel = device.Kind == PortKind::Parallel;
    const std::string where =
        device.Path + " (port " + std::string(LinkPort[device.Entry].Text) + ")";
    // O_NONBLOCK: without it, opening a tty waits for carrier detect.
    const int flags = parallel ? O_RDWR | O_CLOEXEC : O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    const int fd = Kernel->Open(device.Path, flags);
    if (fd < 0) {
        device.State = DeviceState::Failed;
        const int err = -fd;
        std::string hint;
        if (err == EACCES || err == EPERM)
            hint =
                parallel
                    ? "add your user to the lp group (or install the udev rules) and log in again"
                    : "add your user to the dialout group (or install the udev rules) and log in "
                      "again";
        else
            hint = "map another device with LODESTRUM_PORTS, e.g. " +
                   Hex(LinkPort[device.Entry].Base) +
                   (parallel ? "=/dev/parport1" : "=/dev/ttyUSB0");
        Say("lodestrum: cannot open " + where + ": " + ErrorText(err) +
            "; it reads as no cable. Hint: " + hint + ".");
        return false;
    }
    if (parallel) {
        const int claimed = Kernel->Ioctl(fd, PPCLAIM, nullptr);
        if (claimed < 0) {
            Kernel->Close(fd);
            device.State = DeviceState::Failed;
            Say("lodestrum: cannot claim " + where + ": " + ErrorText(-claimed) +
                "; it reads as no cable.");
            return false;
        }
    }
    device.Fd = fd;
    device.State = DeviceState::Ready;
    return true;
}

bool DevDriver::Call(Device& device, unsigned long request, void* arg, const char* what) {
    const int result = Kernel->Ioctl(device.Fd, request, arg);
    if (result >= 0) return true;
    if (!device.IoctlFailureReported) {
        device.IoctlFailureReported = true;
        Say("lodestrum: " + std::string(what) + " on " + device.Path + " failed: " +
            ErrorText(-result) + "; further failures on this device are not reported.");
    }
    return false;
}

void DevDriver::WritePort(uint32_t port, uint8_t value) {
    for (int i = 0; i < LinkPortCount; ++i) {
        if (OutPortOf(i) != port) continue;
        std::lock_guard lock(Mutex);
        Device& device = *DeviceFor(i);
        if (!Ensure(device)) return;
        if (device.Kind == PortKind::Parallel) {
            unsigned char data = value;
            Call(device, PPWDATA, &data, "PPWDATA");
            return;
        }
        int raise = 0;
        int lower = 0;
        (value & 0x01 ? raise : lower) |= TIOCM_DTR;
        (value & 0x02 ? raise : lower) |= TIOCM_RTS;
        // Raising first: a change of both lines then passes through "both
        // released" (idle), never through "both low", which is the line reset.
        if (raise && !Call(device, TIOCMBIS, &raise, "TIOCMBIS")) return;
        if (lower) Call(device, TIOCMBIC, &lower, "TIOCMBIC");
        return;
    }
}

uint8_t DevDriver::ReadPort(uint32_t port) {
    for (int i = 0; i < LinkPortCount; ++i) {
        if (InPortOf(i) != port) continue;
        std::lock_guard lock(Mutex);
        Device& device = *DeviceFor(i);
        if (!Ensure(device)) return 0xFF;
        if (device.Kind == PortKind::Parallel) {
            unsigned char status = 0xFF;
            return Call(device, PPRSTATUS, &status, "PPRSTATUS") ? status : 0xFF;
        }
        int lines = 0;
        if (!Call(device, TIOCMGET, &lines, "TIOCMGET")) return 0xFF;
        // The modem status register's layout; its delta bits (0-3) read as
        // "no change", which is all a tty can tell.
        uint8_t msr = 0;
        if (lines & TIOCM_CD) msr |= 0x80;
        if (lines & TIOCM_RI) msr |= 0x40;
        if (lines & TIOCM_DSR) msr |= 0x20;
        if (lines & TIOCM_CTS) msr |= 0x10;
        return msr;
    }
    return 0xFF;
}

std::unique_ptr<PortDriver> CreateDevDriver(std::string&) {
    return DevDriver::FromEnvironment(SystemDeviceKernel());
}

} // namespace lodestrum::platform
