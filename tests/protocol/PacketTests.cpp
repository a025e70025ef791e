#include "drivers/SimDriver.h"
#include "protocol/Packets.h"
#include "support/JobRig.h"

#include <gtest/gtest.h>

#include <thread>

using namespace lodestrum;
using namespace std::chrono_literals;
using protocol::CalcTypeFromMachineId;

TEST(MachineId, FullAndShortForms) {
    struct Case {
        uint8_t Id, Full, Short;
    };
    // Current CalcType is 3 throughout: the full form keeps it for 0x10 to 0x80.
    const Case cases[] = {{0x82, 2, 2},   {0x83, 3, 3},   {0x85, 5, 5},   {0x86, 6, 6},
                          {0x88, 8, 8},   {0x89, 9, 9},   {0x98, 8, 8},   {0x90, 0, 0},
                          {0xFF, 0x6F, 0x6F}, {0x81, 1, 1}, {0x8F, 0xF, 0xF}, {0x05, 5, 5},
                          {0x0F, 0xF, 0xF}, {0x10, 3, 0x10}, {0x45, 3, 0x45}, {0x80, 3, 0x80},
                          {0x73, 3, 0x73}};
    for (const auto& c : cases) {
        EXPECT_EQ(CalcTypeFromMachineId(c.Id, 3, false), c.Full) << std::hex << int(c.Id);
        EXPECT_EQ(CalcTypeFromMachineId(c.Id, 3, true), c.Short) << std::hex << int(c.Id);
    }
}

TEST(Checksum, LowSixteenBitsOfTheByteSum) {
    const std::vector<uint8_t> abc = {'a', 'b', 'c'};
    EXPECT_EQ(protocol::Checksum(abc), 0x0126);
    EXPECT_EQ(protocol::Checksum(std::vector<uint8_t>(300, 0xFF)), 0x2AD4);
    EXPECT_EQ(protocol::Checksum({}), 0);
}

namespace {

struct Wire {
    explicit Wire(vcalc::Model model, bool silent = true) {
        vcalc::CalcOptions options;
        options.Kind = model;
        options.Silent = silent; // a silent one only listens: every packet lands in its transcript
        Driver = std::make_unique<drivers::SimDriver>(0, options);
        Rig.Env.Driver = Driver.get();
    }
    std::vector<vcalc::Packet> Heard() {
        // The calculator parses a packet only once its last byte is in.
        for (int i = 0; i < 100 && Driver->Calculator().Transcript().size() < Expected; ++i)
            std::this_thread::sleep_for(10ms);
        return Driver->Calculator().Transcript();
    }
    std::unique_ptr<drivers::SimDriver> Driver;
    testkit::JobRig Rig;
    std::size_t Expected = 0;
};

} // namespace

TEST(PacketsOnTheWire, DataPacketsCarryTheirChecksumLowByteFirst) {
    Wire w(vcalc::Model::TI83);
    const std::vector<std::vector<uint8_t>> payloads = {
        {'a', 'b', 'c'}, std::vector<uint8_t>(300, 0xFF), {}};
    w.Expected = payloads.size();
    w.Rig.StartBody([&](engine::TTransThread& job) {
        for (const auto& data : payloads) {
            protocol::PacketWriter packet(job, protocol::CmdData,
                                          static_cast<uint16_t>(data.size()));
            for (uint8_t b : data) packet.Byte(b);
            packet.Finish();
        }
    });
    ASSERT_TRUE(w.Rig.WaitEnded());
    const auto heard = w.Heard();
    ASSERT_EQ(heard.size(), 3u);
    EXPECT_EQ(heard[0].Checksum, 0x0126);
    EXPECT_EQ(heard[1].Checksum, 0x2AD4);
    EXPECT_EQ(heard[2].Length, 0);
    EXPECT_EQ(heard[2].Checksum, 0);
    for (const auto& p : heard) EXPECT_EQ(p.MachineId, 3);
}

TEST(PacketsOnTheWire, AckAndEotCarryTheJobsMachineId) {
    Wire w(vcalc::Model::TI89, false);
    w.Rig.CalcType = 6;
    w.Rig.StartBody([](engine::TTransThread& job) {
        protocol::SendAck(job);
        job.CalcType = 8;
        protocol::SendEot(job); // the calculator answers the EOT with its ACK
    });
    ASSERT_TRUE(w.Rig.WaitEnded());
    w.Expected = 3;
    const auto heard = w.Heard();
    ASSERT_EQ(heard.size(), 3u);
    EXPECT_EQ(heard[0].MachineId, 0x06);
    EXPECT_EQ(heard[0].Command, 0x56);
    EXPECT_EQ(heard[1].MachineId, 0x08);
    EXPECT_EQ(heard[1].Command, 0x92);
    EXPECT_EQ(heard[2].Command, 0x56);
    EXPECT_TRUE(heard[2].FromCalculator);
}

TEST(ReplyJudging, TheSecondReplysCommandDecides) {
    using protocol::ReplyTable;
    using protocol::VarReply;
    struct Case {
        const char* Name;
        std::vector<uint8_t> Second; // the reply after the calculator's ACK
        ReplyTable Table;
        VarReply Expected;
    };
    const std::vector<uint8_t> cts = {0x83, 0x09, 0, 0};
    auto skip = [](uint8_t code) { return std::vector<uint8_t>{0x83, 0x36, 1, 0, code, code, 0}; };
    const std::vector<uint8_t> other = {0x83, 0x56, 0, 0};
    const Case cases[] = {
        {"variable CTS", cts, ReplyTable::Variable, VarReply::Proceed},
        {"variable SKIP 2", skip(2), ReplyTable::Variable, VarReply::RefusedAck},
        {"variable SKIP 1", skip(1), ReplyTable::Variable, VarReply::RefusedQuiet},
        {"variable SKIP 7", skip(7), ReplyTable::Variable, VarReply::Proceed},
        {"variable other", other, ReplyTable::Variable, VarReply::Proceed},
        {"flash CTS", cts, ReplyTable::FlashBlock, VarReply::Proceed},
        {"flash SKIP 2", skip(2), ReplyTable::FlashBlock, VarReply::RefusedAck},
        {"flash SKIP 1", skip(1), ReplyTable::FlashBlock, VarReply::Proceed},
        {"flash SKIP 7", skip(7), ReplyTable::FlashBlock, VarReply::Proceed},
        {"flash other", other, ReplyTable::FlashBlock, VarReply::Abort},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        platform::SimCable cable(0);
        platform::SimCableEnd end(cable);
        testkit::JobRig rig;
        rig.Env.Driver = &cable;
        std::thread calculator([&] {
            std::vector<uint8_t> bytes = {0x83, 0x56, 0, 0};
            bytes.insert(bytes.end(), c.Second.begin(), c.Second.end());
            for (uint8_t b : bytes)
                if (!end.PutByte(b, 5s)) return;
        });
        protocol::VarVerdict verdict{};
        rig.StartBody([&](engine::TTransThread& job) {
            verdict = protocol::ReadVarReplies(job, c.Table);
        });
        ASSERT_TRUE(rig.WaitEnded());
        calculator.join();
        EXPECT_EQ(verdict.Action, c.Expected);
    }
}
