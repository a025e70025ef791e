// Full-size FLASH blocks: a quarter of a megabyte over the simulated cable,
// too slow for the ThreadSanitizer run, so they live in a test of their own.
#include "SendTi89Support.h"

#include <gtest/gtest.h>

using namespace lodestrum;
using testkit::SendRig;
using vcalc::Model;
using namespace testkit::e2e;

TEST(SendFlash, BlocksOf65530WithContOrEot) {
    struct Case {
        uint32_t Size;
        std::vector<uint32_t> Blocks;
    };
    const Case cases[] = {{65529, {65529}}, {65531, {65530, 1}}, {2 * 65530, {65530, 65530, 0}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Size);
        SendRig s(Model::TI89);
        s.Rig.CalcType = 8;
        s.Rig.Host.QueueYesNo(true);
        const auto path =
            s.Work.Write("app.89k", FlashBlock("abc", 0x98, 0x24, Contents(c.Size, 9)));
        ASSERT_TRUE(s.Send(path));
        std::vector<uint32_t> blocks;
        std::vector<uint8_t> after;
        const auto pc = s.FromPc();
        for (std::size_t i = 0; i < pc.size(); ++i) {
            if (pc[i].Command != DATA) continue;
            blocks.push_back(pc[i].Length);
            ASSERT_LT(i + 2, pc.size() + 1);
            if (i + 2 < pc.size()) after.push_back(pc[i + 2].Command);
            else if (i + 1 < pc.size()) after.push_back(pc[i + 1].Command);
        }
        EXPECT_EQ(blocks, c.Blocks);
        ASSERT_FALSE(pc.empty());
        EXPECT_EQ(pc.back().Command, EOT);
        EXPECT_EQ(CountFromPc(s, CONT), static_cast<int>(c.Blocks.size()) - 1);
        // The VAR of an application: size, 0x24, the name's length and the name.
        EXPECT_EQ(pc[0].Length, 9);
        EXPECT_EQ(pc[0].Data[4], 0x24);
        EXPECT_EQ(pc[0].Data[5], 3);
        const auto statuses = s.Rig.Host.Statuses();
        EXPECT_EQ(statuses.back(), "The " + std::to_string(c.Blocks.size()) +
                                       "-blocks FLASH file was sent completely.");
        EXPECT_EQ(s.Rig.Host.Events().front(),
                  "status:Sending: app.89k...");
        const auto memory = s.Calculator().Memory();
        ASSERT_EQ(memory.size(), 1u);
        std::vector<uint8_t> joined;
        for (const auto& part : memory[0].Parts) joined.insert(joined.end(), part.begin(), part.end());
        EXPECT_EQ(joined, Contents(c.Size, 9));
    }
}

