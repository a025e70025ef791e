#include "platform/RawDriver.h"

#include "platform/LinkPorts.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <set>
#include <vector>

namespace lodestrum::platform {
namespace {

// Stands in for the processor's ports; ioperm fails on the Nth range when asked.
class FakePortIo : public PortIo {
  public:
    int FailOnCall = -1; // index of the ioperm call that fails
    int FailWith = EPERM;
    std::set<unsigned long> Granted; // first address of each granted range
    std::vector<uint16_t> Ins;
    std::vector<std::pair<uint16_t, uint8_t>> Outs;
    std::map<uint16_t, uint8_t> Values;

    int Ioperm(unsigned long from, unsigned long count, bool on) override {
        if (on && Calls++ == FailOnCall) return -FailWith;
        EXPECT_GT(count, 0u);
        if (on)
            Granted.insert(from);
        else
            Granted.erase(from);
        return 0;
    }
    uint8_t In(uint16_t port) override {
        Ins.push_back(port);
        return Values.count(port) ? Values[port] : 0x00;
    }
    void Out(uint16_t port, uint8_t value) override { Outs.emplace_back(port, value); }

  private:
    int Calls = 0;
};

TEST(RawDriverTest, HoldsEveryTableRegisterAndGivesThemBack) {
    auto io = std::make_shared<FakePortIo>();
    std::string error;
    auto driver = RawDriver::Create(io, error);
    ASSERT_TRUE(driver) << error;
    ASSERT_EQ(RawDriver::Ranges().size(), size_t(LinkPortCount));
    for (int i = 0; i < LinkPortCount; ++i) {
        const auto [first, count] = RawDriver::Ranges()[i];
        EXPECT_EQ(first, OutPortOf(i));
        EXPECT_EQ(first + count - 1, InPortOf(i));
        EXPECT_TRUE(io->Granted.count(first));
    }
    driver.reset();
    EXPECT_TRUE(io->Granted.empty());
}

TEST(RawDriverTest, RefusesToLoadWithoutPermissionAndReleasesWhatItGot) {
    const struct {
        int FailOnCall;
        int Error;
        const char* Says;
    } cases[] = {
        {0, EPERM, "CAP_SYS_RAWIO"},
        {3, EPERM, "CAP_SYS_RAWIO"},
        {7, EINVAL, "Invalid argument"},
        {0, ENOSYS, "dev driver"}, // ioperm filtered out, as in many containers
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.FailOnCall);
        auto io = std::make_shared<FakePortIo>();
        io->FailOnCall = c.FailOnCall;
        io->FailWith = c.Error;
        std::string error;
        EXPECT_EQ(RawDriver::Create(io, error), nullptr);
        EXPECT_NE(error.find(c.Says), std::string::npos) << error;
        EXPECT_TRUE(io->Granted.empty());
    }
}

TEST(RawDriverTest, RefusesWhereThereAreNoPortInstructions) {
    std::string error;
    EXPECT_EQ(RawDriver::Create(nullptr, error), nullptr);
    EXPECT_NE(error.find("x86"), std::string::npos) << error;
}

TEST(RawDriverTest, OnlyGrantedRegistersReachThePorts) {
    auto io = std::make_shared<FakePortIo>();
    io->Values[0x379] = 0x5A;
    io->Values[0x2EE] = 0x30;
    std::string error;
    auto driver = RawDriver::Create(io, error);
    ASSERT_TRUE(driver) << error;

    EXPECT_EQ(driver->ReadPort(0x379), 0x5A);
    EXPECT_EQ(driver->ReadPort(0x2EE), 0x30);
    driver->WritePort(0x378, 2);
    driver->WritePort(0x3FC, 1);
    // Outside the ranges an access would fault; it must not happen.
    for (uint32_t port : {0x37Au, 0x3F8u, 0x3FFu, 0x80u, 0x10378u}) {
        EXPECT_EQ(driver->ReadPort(port), 0xFF) << std::hex << port;
        driver->WritePort(port, 0);
    }
    EXPECT_EQ(io->Ins, (std::vector<uint16_t>{0x379, 0x2EE}));
    EXPECT_EQ(io->Outs, (std::vector<std::pair<uint16_t, uint8_t>>{{0x378, 2}, {0x3FC, 1}}));
}

// Only asks the kernel for permission; never reads or writes a port.
TEST(RawDriverTest, RealFactoryEitherLoadsOrSaysWhatToUseInstead) {
    std::string error;
    auto driver = CreateRawDriver(error);
    if (!driver) {
        EXPECT_NE(error.find("LODESTRUM_PORT_DRIVER=dev"), std::string::npos) << error;
    }
}

} // namespace
} // namespace lodestrum::platform
