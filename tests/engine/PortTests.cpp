#include "platform/LinkPorts.h"
#include "platform/SimCable.h"
#include "support/JobRig.h"
#include "support/RecordingDriver.h"

#include <gtest/gtest.h>

using namespace lodestrum;
using platform::InPortOf;
using platform::OutPortOf;

TEST(LinkPortTable, RegisterRuleGoesByIndex) {
    struct Case {
        int Index;
        uint32_t Out, In;
        std::string_view Text;
    };
    const Case cases[] = {
        {0, 0x378, 0x379, "0x378-LPT"}, {1, 0x278, 0x279, "0x278-LPT"},
        {2, 0x3BC, 0x3BD, "0x3BC-LPT"}, {3, 0x2BC, 0x2BD, "0x2BC-LPT"},
        {4, 0x3FC, 0x3FE, "0x3F8-COM"}, {5, 0x2FC, 0x2FE, "0x2F8-COM"},
        {6, 0x3EC, 0x3EE, "0x3E8-COM"}, {7, 0x2EC, 0x2EE, "0x2E8-COM"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OutPortOf(c.Index), c.Out) << c.Index;
        EXPECT_EQ(InPortOf(c.Index), c.In) << c.Index;
        EXPECT_EQ(platform::LinkPort[c.Index].Text, c.Text);
    }
}

TEST(SimCableLines, EachLineReadsTheAndOfBothEnds) {
    platform::SimCable cable(0);
    struct Case {
        uint8_t Pc, Far, In;
    };
    // Bits 5 and 4 carry LineA and LineB; every other bit reads 1.
    const Case cases[] = {{3, 3, 0xFF}, {2, 3, 0xDF}, {1, 3, 0xEF}, {3, 2, 0xDF},
                          {3, 1, 0xEF}, {2, 1, 0xCF}, {0, 3, 0xCF}, {1, 1, 0xEF}};
    for (const auto& c : cases) {
        cable.WritePort(0x378, c.Pc);
        cable.FarDrive(c.Far);
        EXPECT_EQ(cable.ReadPort(0x379), c.In) << int(c.Pc) << "/" << int(c.Far);
    }
    // Other ports have nothing plugged in.
    cable.WritePort(0x278, 0);
    EXPECT_EQ(cable.ReadPort(0x279), 0xFF);
    EXPECT_EQ(cable.ReadPort(0x3FE), 0xFF);
}

TEST(SimCableLines, CanBePluggedIntoASerialEntry) {
    platform::SimCable cable(4);
    cable.WritePort(0x3FC, 0);
    EXPECT_EQ(cable.ReadPort(0x3FE), 0xCF);
    EXPECT_EQ(cable.ReadPort(0x379), 0xFF);
}

// ReadLines keeps only the two line bits, whatever else the register holds.
TEST(ReadLines, MasksTheInputRegister) {
    testkit::RecordingDriver driver;
    testkit::JobRig rig;
    rig.Env.Driver = &driver;
    const std::pair<uint8_t, uint8_t> cases[] = {{0xFF, 0x30}, {0xCF, 0x00}, {0x1F, 0x10},
                                                 {0x20, 0x20}, {0x00, 0x00}};
    std::vector<uint8_t> got;
    rig.StartBody([&](engine::TTransThread& job) {
        for (const auto& [in, expected] : cases) {
            driver.SetReadValue(in);
            got.push_back(job.ReadLines());
        }
    });
    ASSERT_TRUE(rig.WaitEnded());
    ASSERT_EQ(got.size(), std::size(cases));
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], cases[i].second) << i;
}

TEST(SetIdleLines, WritesNothingOnTheVirtualLink) {
    testkit::RecordingDriver driver;
    testkit::JobRig rig;
    rig.Env.Driver = &driver;
    rig.Settings.UseVirtualLink = true;
    rig.Start(engine::OpRefresh);
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_TRUE(driver.Writes().empty());
}
