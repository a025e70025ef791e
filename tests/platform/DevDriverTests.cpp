#include "platform/DevDriver.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

namespace lodestrum::platform {
namespace {

struct FakeDevice {
    int OpenError = 0;  // errno the open fails with
    int ClaimError = 0; // errno PPCLAIM fails with
    int IoctlError = 0; // errno every line ioctl fails with
    uint8_t Status = 0x78;
    uint8_t Data = 0;
    int ModemLines = 0;
    int OpenFlags = 0;
};

struct KernelCall {
    std::string Path;
    std::string What;
    int Value = 0;
    bool operator==(const KernelCall&) const = default;
};

std::ostream& operator<<(std::ostream& out, const KernelCall& call) {
    return out << call.Path << ' ' << call.What << ' ' << call.Value;
}

// Devices that exist are those in Devices; everything else is ENOENT.
class FakeKernel : public DeviceKernel {
  public:
    std::map<std::string, FakeDevice> Devices;
    std::vector<KernelCall> Calls;

    int Open(const std::string& path, int flags) override {
        Calls.push_back({path, "open"});
        auto found = Devices.find(path);
        if (found == Devices.end()) return -ENOENT;
        if (found->second.OpenError) return -found->second.OpenError;
        found->second.OpenFlags = flags;
        Fds[NextFd] = path;
        return NextFd++;
    }

    int Ioctl(int fd, unsigned long request, void* arg) override {
        const std::string& path = Fds.at(fd);
        FakeDevice& device = Devices.at(path);
        switch (request) {
        case PPCLAIM:
            Calls.push_back({path, "PPCLAIM"});
            return device.ClaimError ? -device.ClaimError : 0;
        case PPRELEASE:
            Calls.push_back({path, "PPRELEASE"});
            return 0;
        case PPWDATA:
            Calls.push_back({path, "PPWDATA", *static_cast<unsigned char*>(arg)});
            if (device.IoctlError) return -device.IoctlError;
            device.Data = *static_cast<unsigned char*>(arg);
            return 0;
        case PPRSTATUS:
            Calls.push_back({path, "PPRSTATUS"});
            if (device.IoctlError) return -device.IoctlError;
            *static_cast<unsigned char*>(arg) = device.Status;
            return 0;
        case TIOCMBIS:
            Calls.push_back({path, "TIOCMBIS", *static_cast<int*>(arg)});
            if (device.IoctlError) return -device.IoctlError;
            device.ModemLines |= *static_cast<int*>(arg);
            return 0;
        case TIOCMBIC:
            Calls.push_back({path, "TIOCMBIC", *static_cast<int*>(arg)});
            if (device.IoctlError) return -device.IoctlError;
            device.ModemLines &= ~*static_cast<int*>(arg);
            return 0;
        case TIOCMGET:
            Calls.push_back({path, "TIOCMGET"});
            if (device.IoctlError) return -device.IoctlError;
            *static_cast<int*>(arg) = device.ModemLines;
            return 0;
        }
        ADD_FAILURE() << "unexpected ioctl " << request;
        return -ENOTTY;
    }

    int Close(int fd) override {
        Calls.push_back({Fds.at(fd), "close"});
        Fds.erase(fd);
        return 0;
    }

    int Count(const std::string& what) const {
        int n = 0;
        for (const auto& call : Calls)
            n += call.What == what;
        return n;
    }
    size_t OpenFds() const { return Fds.size(); }

  private:
    std::map<int, std::string> Fds;
    int NextFd = 10;
};

struct Rig {
    std::shared_ptr<FakeKernel> Kernel = std::make_shared<FakeKernel>();
    std::vector<std::string> Reports;

    std::unique_ptr<DevDriver> Make(const std::map<uint32_t, std::string>& overrides = {}) {
        return std::make_unique<DevDriver>(
            Kernel, overrides, [this](const std::string& line) { Reports.push_back(line); });
    }
    // The calls after the device was opened (and claimed).
    std::vector<KernelCall> LineCalls() const {
        std::vector<KernelCall> calls;
        for (const auto& call : Kernel->Calls)
            if (call.What != "open" && call.What != "PPCLAIM") calls.push_back(call);
        return calls;
    }
};

TEST(DevDriverTest, EachTableEntryOpensItsOwnDevice) {
    const char* paths[LinkPortCount] = {"/dev/parport0", "/dev/parport1", "/dev/parport2",
                                        "/dev/parport3", "/dev/ttyS0",    "/dev/ttyS1",
                                        "/dev/ttyS2",    "/dev/ttyS3"};
    for (int i = 0; i < LinkPortCount; ++i) {
        SCOPED_TRACE(LinkPort[i].Text);
        Rig rig;
        rig.Kernel->Devices[paths[i]];
        auto driver = rig.Make();
        EXPECT_EQ(driver->DevicePathOf(i), paths[i]);

        driver->WritePort(OutPortOf(i), 3);
        const bool parallel = i < 4;
        std::vector<KernelCall> expected{{paths[i], "open"}};
        if (parallel)
            expected.insert(expected.end(), {{paths[i], "PPCLAIM"}, {paths[i], "PPWDATA", 3}});
        else
            expected.push_back({paths[i], "TIOCMBIS", TIOCM_DTR | TIOCM_RTS});
        EXPECT_EQ(rig.Kernel->Calls, expected);

        // A tty must not wait for carrier detect, nor become our terminal.
        const int flags = rig.Kernel->Devices[paths[i]].OpenFlags;
        EXPECT_EQ((flags & O_ACCMODE), O_RDWR);
        if (!parallel) {
            EXPECT_EQ(flags & (O_NONBLOCK | O_NOCTTY), O_NONBLOCK | O_NOCTTY);
        }
        EXPECT_TRUE(rig.Reports.empty());
    }
}

TEST(DevDriverTest, SerialOutputBitsDriveDtrAndRts) {
    struct Case {
        uint8_t Value;
        std::vector<KernelCall> Calls;
        int LinesAfter;
    };
    const std::string tty = "/dev/ttyS0";
    const Case cases[] = {
        {3, {{tty, "TIOCMBIS", TIOCM_DTR | TIOCM_RTS}}, TIOCM_DTR | TIOCM_RTS},
        {0, {{tty, "TIOCMBIC", TIOCM_DTR | TIOCM_RTS}}, 0},
        // Raising before lowering, so the change never shows both lines low.
        {1, {{tty, "TIOCMBIS", TIOCM_DTR}, {tty, "TIOCMBIC", TIOCM_RTS}}, TIOCM_DTR},
        {2, {{tty, "TIOCMBIS", TIOCM_RTS}, {tty, "TIOCMBIC", TIOCM_DTR}}, TIOCM_RTS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.Value));
        Rig rig;
        rig.Kernel->Devices[tty].ModemLines = TIOCM_DTR | TIOCM_RTS;
        auto driver = rig.Make();
        driver->WritePort(0x3FC, c.Value);
        EXPECT_EQ(rig.LineCalls(), c.Calls);
        EXPECT_EQ(rig.Kernel->Devices[tty].ModemLines & (TIOCM_DTR | TIOCM_RTS), c.LinesAfter);
    }
}

TEST(DevDriverTest, SerialStatusReadsInModemStatusLayout) {
    const struct {
        int Lines;
        uint8_t Msr;
    } cases[] = {
        {0, 0x00},
        {TIOCM_DSR, 0x20},
        {TIOCM_CTS, 0x10},
        {TIOCM_DSR | TIOCM_CTS, 0x30},
        {TIOCM_CD, 0x80},
        {TIOCM_RI, 0x40},
        {TIOCM_CD | TIOCM_RI | TIOCM_DSR | TIOCM_CTS | TIOCM_DTR | TIOCM_RTS, 0xF0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Lines);
        Rig rig;
        rig.Kernel->Devices["/dev/ttyS1"].ModemLines = c.Lines;
        auto driver = rig.Make();
        EXPECT_EQ(driver->ReadPort(0x2FE), c.Msr);
    }
}

TEST(DevDriverTest, ParallelRegistersPassThrough) {
    Rig rig;
    FakeDevice& port = rig.Kernel->Devices["/dev/parport2"];
    auto driver = rig.Make();
    for (uint8_t value : {0, 1, 2, 3}) {
        driver->WritePort(0x3BC, value);
        EXPECT_EQ(port.Data, value);
    }
    for (uint8_t status : {0x00, 0x10, 0x20, 0x30, 0x7F, 0x87, 0xFF}) {
        port.Status = status;
        EXPECT_EQ(driver->ReadPort(0x3BD), status);
    }
}

TEST(DevDriverTest, OpensOnFirstUseAndKeepsTheDeviceUntilDestroyed) {
    Rig rig;
    rig.Kernel->Devices["/dev/parport0"];
    rig.Kernel->Devices["/dev/ttyS3"];
    auto driver = rig.Make();
    EXPECT_TRUE(rig.Kernel->Calls.empty());
    for (int i = 0; i < 50; ++i) {
        driver->WritePort(0x378, 3);
        driver->ReadPort(0x379);
        driver->ReadPort(0x2EE);
    }
    EXPECT_EQ(rig.Kernel->Count("open"), 2);
    EXPECT_EQ(rig.Kernel->Count("PPCLAIM"), 1);

    driver.reset();
    EXPECT_EQ(rig.Kernel->Count("PPRELEASE"), 1);
    EXPECT_EQ(rig.Kernel->Count("close"), 2);
    EXPECT_EQ(rig.Kernel->OpenFds(), 0u);
}

TEST(DevDriverTest, DeviceThatCannotOpenReadsHighSwallowsWritesAndSaysSoOnce) {
    const struct {
        int Entry;
        std::string Path;
        int Error; // 0: the device does not exist
        std::string Hint;
    } cases[] = {
        {0, "/dev/parport0", EACCES, "lp group"},
        {5, "/dev/ttyS1", EACCES, "dialout group"},
        {6, "/dev/ttyS2", 0, "LODESTRUM_PORTS"},
        {1, "/dev/parport1", 0, "LODESTRUM_PORTS"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        Rig rig;
        if (c.Error) rig.Kernel->Devices[c.Path].OpenError = c.Error;
        auto driver = rig.Make();
        for (int i = 0; i < 20; ++i) {
            EXPECT_EQ(driver->ReadPort(InPortOf(c.Entry)), 0xFF);
            driver->WritePort(OutPortOf(c.Entry), static_cast<uint8_t>(i & 3));
        }
        EXPECT_EQ(rig.Kernel->Calls, (std::vector<KernelCall>{{c.Path, "open"}}));
        ASSERT_EQ(rig.Reports.size(), 1u);
        const std::string& line = rig.Reports[0];
        EXPECT_NE(line.find(c.Path), std::string::npos) << line;
        EXPECT_NE(line.find(c.Error ? "Permission denied" : "No such file"), std::string::npos)
            << line;
        EXPECT_NE(line.find(c.Hint), std::string::npos) << line;
    }
}

TEST(DevDriverTest, PortThatCannotBeClaimedIsClosedAndReadsHigh) {
    Rig rig;
    rig.Kernel->Devices["/dev/parport0"].ClaimError = EBUSY;
    auto driver = rig.Make();
    EXPECT_EQ(driver->ReadPort(0x379), 0xFF);
    driver->WritePort(0x378, 0);
    EXPECT_EQ(driver->ReadPort(0x379), 0xFF);
    EXPECT_EQ(rig.Kernel->Count("PPCLAIM"), 1);
    EXPECT_EQ(rig.Kernel->Count("PPWDATA"), 0);
    EXPECT_EQ(rig.Kernel->OpenFds(), 0u);
    ASSERT_EQ(rig.Reports.size(), 1u);
    EXPECT_NE(rig.Reports[0].find("busy"), std::string::npos) << rig.Reports[0];
}

TEST(DevDriverTest, LineIoctlFailuresReadHighAndAreReportedOncePerDevice) {
    Rig rig;
    rig.Kernel->Devices["/dev/ttyS0"].IoctlError = EIO;
    rig.Kernel->Devices["/dev/parport3"].IoctlError = ENODEV;
    auto driver = rig.Make();
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(driver->ReadPort(0x3FE), 0xFF);
        driver->WritePort(0x3FC, 1);
        EXPECT_EQ(driver->ReadPort(0x2BD), 0xFF);
        driver->WritePort(0x2BC, 1);
    }
    ASSERT_EQ(rig.Reports.size(), 2u);
    EXPECT_NE(rig.Reports[0].find("TIOCMGET"), std::string::npos) << rig.Reports[0];
    EXPECT_NE(rig.Reports[0].find("Input/output error"), std::string::npos) << rig.Reports[0];
    EXPECT_NE(rig.Reports[1].find("/dev/parport3"), std::string::npos) << rig.Reports[1];
    // Still open: a later call may succeed again.
    EXPECT_EQ(rig.Kernel->Count("open"), 2);
}

TEST(DevDriverTest, AddressesThatAreNotARegisterOfTheTableTouchNothing) {
    Rig rig;
    rig.Kernel->Devices["/dev/parport0"];
    rig.Kernel->Devices["/dev/ttyS0"];
    auto driver = rig.Make();
    for (uint32_t port : {0x000u, 0x37Au, 0x3F8u, 0x3FDu, 0x3FFu, 0x378u, 0x3FCu, 0xFFFFFFFFu})
        EXPECT_EQ(driver->ReadPort(port), 0xFF) << std::hex << port;
    for (uint32_t port : {0x000u, 0x379u, 0x37Au, 0x3F8u, 0x3FEu, 0xFFFFFFFFu})
        driver->WritePort(port, 0);
    EXPECT_TRUE(rig.Kernel->Calls.empty());
    EXPECT_TRUE(rig.Reports.empty());
}

TEST(DevDriverTest, OverridesReplaceTheirEntryAndShareADevice) {
    Rig rig;
    rig.Kernel->Devices["/dev/ttyUSB0"].ModemLines = TIOCM_DSR;
    auto driver = rig.Make({{0x3F8, "/dev/ttyUSB0"}, {0x2F8, "/dev/ttyUSB0"}});
    EXPECT_EQ(driver->DevicePathOf(4), "/dev/ttyUSB0");
    EXPECT_EQ(driver->DevicePathOf(5), "/dev/ttyUSB0");
    EXPECT_EQ(driver->DevicePathOf(6), "/dev/ttyS2");
    EXPECT_EQ(driver->DevicePathOf(0), "/dev/parport0");
    EXPECT_EQ(driver->ReadPort(0x3FE), 0x20);
    EXPECT_EQ(driver->ReadPort(0x2FE), 0x20);
    EXPECT_EQ(rig.Kernel->Count("open"), 1);
}

TEST(PortOverridesTest, ParsesGoodEntriesAndNamesEachBadOne) {
    const struct {
        std::string Text;
        std::map<uint32_t, std::string> Devices;
        size_t Problems;
    } cases[] = {
        {"", {}, 0},
        {"0x3F8=/dev/ttyUSB0,0x378=/dev/parport1",
         {{0x3F8, "/dev/ttyUSB0"}, {0x378, "/dev/parport1"}},
         0},
        {" 0x2e8 = /dev/ttyACM0 , ,", {{0x2E8, "/dev/ttyACM0"}}, 0},
        {"0x3BC=/dev/a,0x3BC=/dev/b", {{0x3BC, "/dev/b"}}, 0},
        {"0x3F8", {}, 1},                  // no device
        {"0x3F8=", {}, 1},                 // empty device
        {"3F8=/dev/ttyS0", {}, 1},         // not written as hex
        {"0x3FC=/dev/ttyS0", {}, 1},       // a register, not a base
        {"0x3F8x=/dev/ttyS0", {}, 1},      // junk after the digits
        {"0x=/dev/ttyS0", {}, 1},          // no digits
        {"0x100000378=/dev/ttyS0", {}, 1}, // too large for an address
        {"0x378=/dev/parport1,bogus,0x999=/x", {{0x378, "/dev/parport1"}}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        const PortOverrides parsed = ParsePortOverrides(c.Text);
        EXPECT_EQ(parsed.Devices, c.Devices);
        EXPECT_EQ(parsed.Problems.size(), c.Problems);
    }
}

TEST(DevDriverTest, EnvironmentOverridesApplyAndBadEntriesAreReportedOnce) {
    ::setenv("LODESTRUM_PORTS", "0x3F8=/dev/ttyUSB0,nonsense,0x3FC=/dev/ttyS9", 1);
    Rig rig;
    auto driver = DevDriver::FromEnvironment(
        rig.Kernel, [&](const std::string& line) { rig.Reports.push_back(line); });
    ::unsetenv("LODESTRUM_PORTS");
    EXPECT_EQ(driver->DevicePathOf(4), "/dev/ttyUSB0");
    ASSERT_EQ(rig.Reports.size(), 2u);
    EXPECT_NE(rig.Reports[0].find("nonsense"), std::string::npos);
    EXPECT_NE(rig.Reports[1].find("0x3FC"), std::string::npos);
    driver->ReadPort(0x3FE); // ttyUSB0 is missing: its own report, not a repeat
    EXPECT_EQ(rig.Reports.size(), 3u);
}

} // namespace
} // namespace lodestrum::platform
