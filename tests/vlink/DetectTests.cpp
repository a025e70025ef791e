#include "drivers/SimDriver.h"
#include "drivers/SimSettings.h"
#include "support/JobRig.h"

#include <gtest/gtest.h>

using namespace lodestrum;
using drivers::PortBehaviour;

namespace {

const std::string Suffix = " Calculator connected or Short-circuit in cable.";
const std::string NoCable = "No cable was detected! Make sure calculator is disconnected.";

} // namespace

TEST(SimPorts, SettingParsesEntriesAndBehaviours) {
    struct Case {
        std::string Value;
        bool Ok;
        int Entry;
        PortBehaviour Behaviour;
    } cases[] = {
        {"0:follow", true, 0, PortBehaviour::Follow}, {"7:none", true, 7, PortBehaviour::None},
        {"1:idle,3:short", true, 3, PortBehaviour::Short}, {"4:weak", true, 4, PortBehaviour::Weak},
        {"8:follow", false, 0, {}},                        {"0:loud", false, 0, {}},
        {"follow", false, 0, {}},                          {"-1:idle", false, 0, {}},
    };
    for (const auto& c : cases) {
        drivers::SimSettings s;
        std::string error;
        EXPECT_EQ(drivers::ApplySimSetting(s, "ports", c.Value, error), c.Ok) << c.Value;
        if (c.Ok) {
            ASSERT_TRUE(s.Ports[c.Entry]) << c.Value;
            EXPECT_EQ(*s.Ports[c.Entry], c.Behaviour) << c.Value;
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
}

// Detection (code 8) against the sim driver with a behaviour on each port.
TEST(SimPortsDetect, ReportsWhatEachPortBehaviourScores) {
    struct Case {
        const char* Name;
        std::vector<std::pair<int, PortBehaviour>> Ports; // the rest: nothing plugged
        std::vector<std::string> Events;
    } cases[] = {
        {"five matches", {{5, PortBehaviour::Follow}},
         {"port:5", "status:A cable seems to be at 0x2F8-COM."}},
        {"four matches", {{1, PortBehaviour::Weak}},
         {"port:1", "status:A cable seems to be at 0x278-LPT."}},
        {"three matches", {{3, PortBehaviour::Short}},
         {"port:3", "status:A cable seems to be at 0x2BC-LPT." + Suffix}},
        {"two matches", {{2, PortBehaviour::Idle}}, {"status:" + NoCable}},
        {"entries 0 and 4",
         {{0, PortBehaviour::Follow}, {4, PortBehaviour::Follow}},
         {"port:0", "status:A cable seems to be at 0x378-LPT.", "port:4",
          "status:Cable (2) seems to be at 0x3F8-COM."}},
        {"none", {}, {"status:" + NoCable}},
    };
    for (const auto& c : cases) {
        drivers::SimSettings settings;
        settings.Ports.fill(PortBehaviour::None);
        for (const auto& [entry, behaviour] : c.Ports) settings.Ports[entry] = behaviour;
        drivers::SimDriver driver(settings);
        testkit::JobRig rig;
        rig.Env.Driver = &driver;
        rig.Settings.LinkPortIndex = 6;
        rig.Start(engine::OpDetectCable);
        ASSERT_TRUE(rig.WaitEnded()) << c.Name;
        EXPECT_EQ(rig.Host.Events(), c.Events) << c.Name;
    }
}
