// Full-size FLASH blocks: a quarter of a megabyte over the simulated cable,
// too slow for the ThreadSanitizer run, so they live in a test of their own.
#include "files/Ti89File.h"
#include "support/SendRig.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace lodestrum;
using namespace std::chrono_literals;
using testkit::SendRig;
using vcalc::Model;

namespace {

constexpr uint8_t VAR = 0x06, CTS = 0x09, DATA = 0x15, ACK = 0x56, EOT = 0x92, CONT = 0x78,
                  SKIP = 0x36;

// The calculator's data packet for contents: four leading bytes, S big-endian, the bytes.
std::vector<uint8_t> PacketData(const std::vector<uint8_t>& contents) {
    std::vector<uint8_t> d = {0xAA, 0xBB, 0xCC, 0xDD, static_cast<uint8_t>(contents.size() >> 8),
                              static_cast<uint8_t>(contents.size())};
    d.insert(d.end(), contents.begin(), contents.end());
    return d;
}

std::vector<uint8_t> Contents(std::size_t n, uint8_t seed = 3) {
    std::vector<uint8_t> c(n);
    for (std::size_t i = 0; i < n; ++i) c[i] = static_cast<uint8_t>(seed + 5 * i);
    return c;
}

files::Ti89Variable Var(const std::string& name, std::size_t size, uint8_t type = 0x12) {
    return {name, type, PacketData(Contents(size))};
}

std::vector<std::string> NamesSent(const SendRig& s) {
    std::vector<std::string> names;
    for (const auto& p : s.FromPc())
        if (p.Command == VAR && p.Data.size() >= 6)
            names.emplace_back(p.Data.begin() + 6, p.Data.begin() + 6 + p.Data[5]);
    return names;
}

int CountFromPc(const SendRig& s, uint8_t command) {
    int n = 0;
    for (const auto& p : s.FromPc()) n += p.Command == command;
    return n;
}

} // namespace

// FLASH files: a 78-byte header per block, then its data.
namespace {

std::vector<uint8_t> FlashBlock(const std::string& name, uint8_t device, uint8_t dataType,
                                const std::vector<uint8_t>& data) {
    std::vector<uint8_t> b(78, 0);
    std::memcpy(b.data(), "**TIFL**", 8);
    b[12] = 0x12, b[13] = 0x05, b[14] = 0x20, b[15] = 0x01;
    b[16] = static_cast<uint8_t>(name.size());
    std::memcpy(&b[17], name.data(), name.size());
    b[48] = device;
    b[49] = dataType;
    const uint32_t size = static_cast<uint32_t>(data.size());
    for (int i = 0; i < 4; ++i) b[74 + i] = static_cast<uint8_t>(size >> (8 * i));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

} // namespace

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

