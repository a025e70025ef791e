#include "platform/SimCable.h"
#include "support/JobRig.h"
#include "support/RecordingDriver.h"

#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <thread>

using namespace lodestrum;
using namespace std::chrono_literals;
using engine::TTransThread;

namespace {

// The calculator's end of the cable, on a thread of its own, taking or
// giving bytes in order.
class FarEnd {
public:
    explicit FarEnd(platform::SimCable& cable) : End(cable) {}
    ~FarEnd() {
        End.Cancel();
        if (Thread.joinable()) Thread.join();
    }
    void Receive(int count) {
        Thread = std::thread([this, count] {
            for (int i = 0; i < count; ++i) {
                auto b = End.GetByte(10s);
                if (!b) return;
                std::lock_guard lock(Mutex);
                Got.push_back(*b);
            }
        });
    }
    void Send(std::vector<uint8_t> bytes) {
        Thread = std::thread([this, bytes] {
            for (auto b : bytes)
                if (!End.PutByte(b, 10s)) return;
        });
    }
    std::vector<uint8_t> Received() {
        if (Thread.joinable()) Thread.join();
        return Got;
    }
    void Join() {
        if (Thread.joinable()) Thread.join();
    }

private:
    platform::SimCableEnd End;
    std::thread Thread;
    std::mutex Mutex;
    std::vector<uint8_t> Got;
};

const std::vector<uint8_t> Bytes = {0x00, 0x01, 0xA5, 0xFF};

std::vector<uint8_t> Complemented(std::vector<uint8_t> v) {
    for (auto& b : v) b = static_cast<uint8_t>(~b);
    return v;
}

} // namespace

TEST(ByteTransfer, BytesRoundTripBothWaysWithAndWithoutInversionAndDelay) {
    for (bool invert : {false, true}) {
        for (const char* delay : {"0", "1001"}) {
            SCOPED_TRACE(std::string(invert ? "inverted" : "straight") + ", delay " + delay);
            platform::SimCable cable(0);
            testkit::JobRig rig;
            rig.Env.Driver = &cable;
            rig.Settings.InvertLines = invert;
            rig.Settings.DelayText = delay;

            FarEnd sendTo(cable);
            sendTo.Receive(static_cast<int>(Bytes.size()));
            rig.StartBody([&](TTransThread& job) { job.SendBlock(Bytes.data(), 4); });
            ASSERT_TRUE(rig.WaitEnded(1));
            // Inversion complements whole bytes on the wire.
            EXPECT_EQ(sendTo.Received(), invert ? Complemented(Bytes) : Bytes);

            FarEnd receiveFrom(cable);
            receiveFrom.Send(invert ? Complemented(Bytes) : Bytes);
            std::vector<uint8_t> got(4, 0x77);
            rig.StartBody([&](TTransThread& job) { job.ReceiveBlock(got.data(), 4); });
            ASSERT_TRUE(rig.WaitEnded(2));
            EXPECT_EQ(got, Bytes);
        }
    }
}

TEST(ByteTransfer, SendByteSignalsEachBitAndReleasesAfterIt) {
    platform::SimCable cable(0);
    testkit::RecordingDriver driver(&cable);
    testkit::JobRig rig;
    rig.Env.Driver = &driver;
    FarEnd far(cable);
    far.Receive(1);
    std::vector<uint8_t> values;
    rig.StartBody([&](TTransThread& job) {
        driver.Clear();
        job.SendByte(0x01);
        values = driver.ValuesWrittenTo(0x378);
    });
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_EQ(far.Received(), (std::vector<uint8_t>{0x01}));

    std::vector<uint8_t> signals;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (values[i] == 3) continue;
        signals.push_back(values[i]);
        ASSERT_LT(i + 1, values.size());
        EXPECT_EQ(values[i + 1], 3) << "bit " << signals.size() << " not released";
    }
    EXPECT_EQ(signals, (std::vector<uint8_t>{2, 1, 1, 1, 1, 1, 1, 1}));
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.front(), 3);
    EXPECT_EQ(values.back(), 3);
}

// The calculator answers right after the last bit of a byte it sent, while
// the PC may still hold its acknowledgement of that bit: the answer must not
// start until the PC let go, or the PC's acknowledgement reads as its first
// bit. Many turn-arounds, as a busy machine spreads them in time.
TEST(ByteTransfer, TurnAroundAfterTheLastBitNeverTakesTheAcknowledgementForABit) {
    platform::SimCable cable(0);
    platform::SimCableEnd end(cable);
    testkit::JobRig rig;
    rig.Env.Driver = &cable;
    constexpr int Rounds = 20000;
    std::atomic<int> farFailures{0};
    std::thread far([&] {
        for (int i = 0; i < Rounds; ++i) {
            if (!end.PutByte(static_cast<uint8_t>(i), 5s)) {
                ++farFailures;
                return;
            }
            const auto echo = end.GetByte(5s);
            if (!echo || *echo != static_cast<uint8_t>(~i)) {
                ++farFailures;
                return;
            }
        }
    });
    int wrong = -1;
    auto* job = rig.StartBody([&](TTransThread& j) {
        for (int i = 0; i < Rounds && !j.Terminated(); ++i) {
            const uint8_t b = j.ReceiveByte();
            if (b != static_cast<uint8_t>(i)) {
                wrong = i;
                return;
            }
            j.SendByte(static_cast<uint8_t>(~b));
        }
    });
    far.join();
    if (farFailures) rig.Stop(job);
    ASSERT_TRUE(rig.WaitEnded(1, 120s));
    EXPECT_EQ(farFailures, 0);
    EXPECT_EQ(wrong, -1);
}

TEST(ByteTransfer, StopEndsEveryKindOfWaitPromptly) {
    // A port that always reads the same lines pins the transfer in one wait.
    struct Case {
        const char* Wait;
        bool Sending;
        uint8_t Lines;
    };
    const Case cases[] = {
        {"send: lines never idle", true, 0xEF},
        {"send: own line never shows low", true, 0xFF},
        {"send: no acknowledgement", true, 0xDF},
        {"receive: no bit comes", false, 0xFF},
        {"receive: sender never releases", false, 0xEF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Wait);
        testkit::RecordingDriver driver;
        driver.SetReadValue(c.Lines);
        testkit::JobRig rig;
        rig.Env.Driver = &driver;
        rig.Settings.InvertLines = true; // a stopped receive still returns 0
        std::atomic<bool> inside{false};
        std::atomic<int> received{-1};
        auto* job = rig.StartBody([&](TTransThread& j) {
            inside = true;
            if (c.Sending)
                j.SendByte(0x00);
            else
                received = j.ReceiveByte();
        });
        while (!inside) std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(20ms);
        const auto stop = std::chrono::steady_clock::now();
        rig.Stop(job);
        ASSERT_TRUE(rig.WaitEnded());
        EXPECT_LT(std::chrono::steady_clock::now() - stop, 1s);
        if (!c.Sending) {
            EXPECT_EQ(received, 0);
        }
        const auto values = driver.ValuesWrittenTo(0x378);
        ASSERT_GE(values.size(), 3u);
        EXPECT_EQ(values.back(), 3);
    }
}

TEST(ByteTransfer, ReceiveBlockWithTheStopFlagSetTouchesNothing) {
    testkit::RecordingDriver driver;
    testkit::JobRig rig;
    rig.Env.Driver = &driver;
    std::array<uint8_t, 4> buffer{0xAA, 0xAA, 0xAA, 0xAA};
    long readsBefore = -1, readsAfter = -2;
    std::size_t writesBefore = 0, writesAfter = 1;
    rig.StartBody([&](TTransThread& job) {
        job.Terminate();
        readsBefore = driver.Reads();
        writesBefore = driver.Writes().size();
        job.ReceiveBlock(buffer.data(), 4);
        job.SendBlock(buffer.data(), 4);
        readsAfter = driver.Reads();
        writesAfter = driver.Writes().size();
    });
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_EQ(buffer, (std::array<uint8_t, 4>{0xAA, 0xAA, 0xAA, 0xAA}));
    EXPECT_EQ(readsAfter, readsBefore);
    EXPECT_EQ(writesAfter, writesBefore);
}

namespace {

// An in-memory stand-in for the two rings of the virtual link.
class FakeRings : public engine::VirtualCable {
public:
    bool RingHasData() override {
        std::lock_guard lock(Mutex);
        return !Incoming.empty();
    }
    uint8_t RingGetByte() override {
        std::lock_guard lock(Mutex);
        const uint8_t b = Incoming.front();
        Incoming.pop_front();
        return b;
    }
    bool RingHasRoom() override {
        std::lock_guard lock(Mutex);
        return Outgoing.size() < Capacity;
    }
    bool RingPutByte(uint8_t value) override {
        std::lock_guard lock(Mutex);
        if (Outgoing.size() >= Capacity) return false;
        Outgoing.push_back(value);
        return true;
    }
    void Feed(std::vector<uint8_t> bytes) {
        std::lock_guard lock(Mutex);
        Incoming.insert(Incoming.end(), bytes.begin(), bytes.end());
    }
    std::vector<uint8_t> Sent() {
        std::lock_guard lock(Mutex);
        return {Outgoing.begin(), Outgoing.end()};
    }
    void Take() {
        std::lock_guard lock(Mutex);
        if (!Outgoing.empty()) Outgoing.pop_front();
    }
    std::size_t Capacity = 255;

private:
    std::mutex Mutex;
    std::deque<uint8_t> Incoming, Outgoing;
};

} // namespace

TEST(VirtualLinkBytes, BytesGoThroughTheRingsComplementedWhenInverted) {
    FakeRings rings;
    testkit::RecordingDriver driver;
    testkit::JobRig rig;
    rig.Env.Driver = &driver;
    rig.Env.Virtual = &rings;
    rig.Settings.UseVirtualLink = true;
    rig.Settings.InvertLines = true;
    rings.Feed({0xFE, 0x5A});
    std::vector<uint8_t> got(2);
    rig.StartBody([&](TTransThread& job) {
        job.SendByte(0x01);
        job.ReceiveBlock(got.data(), 2);
    });
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_EQ(rings.Sent(), (std::vector<uint8_t>{0xFE}));
    EXPECT_EQ(got, (std::vector<uint8_t>{0x01, 0xA5}));
    EXPECT_TRUE(driver.Writes().empty());
    EXPECT_EQ(driver.Reads(), 0);
}

TEST(VirtualLinkBytes, AFullRingMakesSendByteWaitForRoom) {
    FakeRings rings;
    rings.Capacity = 1;
    testkit::JobRig rig;
    rig.Env.Virtual = &rings;
    rig.Settings.UseVirtualLink = true;
    std::atomic<int> sent{0};
    rig.StartBody([&](TTransThread& job) {
        job.SendByte(1);
        ++sent;
        job.SendByte(2);
        ++sent;
    });
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(sent, 1);
    rings.Take();
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_EQ(sent, 2);
    EXPECT_EQ(rings.Sent(), (std::vector<uint8_t>{2}));
}

TEST(VirtualLinkBytes, StopWhileWaitingOnAnEmptyRingReturnsZeroWithinAPause) {
    FakeRings rings;
    testkit::JobRig rig;
    rig.Env.Virtual = &rings;
    rig.Settings.UseVirtualLink = true;
    rig.Settings.InvertLines = true;
    std::atomic<int> got{-1};
    std::atomic<bool> inside{false};
    auto* job = rig.StartBody([&](TTransThread& j) {
        inside = true;
        got = j.ReceiveByte();
    });
    while (!inside) std::this_thread::sleep_for(1ms);
    const auto stop = std::chrono::steady_clock::now();
    rig.Stop(job);
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_EQ(got, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - stop, 500ms);
}

TEST(VirtualLinkBytes, FinishJobDrainsUntilTheEmulatorFallsSilent) {
    FakeRings rings;
    testkit::JobRig rig;
    rig.Env.Virtual = &rings;
    rig.Settings.UseVirtualLink = true;
    std::atomic<bool> feeding{true};
    std::chrono::steady_clock::time_point lastFed;
    std::thread emulator([&] {
        for (int i = 0; i < 5; ++i) {
            rings.Feed({static_cast<uint8_t>(i)});
            lastFed = std::chrono::steady_clock::now();
            std::this_thread::sleep_for(30ms);
        }
        feeding = false;
    });
    rig.StartBody([&](TTransThread& job) { job.Progress = 42; });
    ASSERT_TRUE(rig.WaitEnded());
    const auto ended = std::chrono::steady_clock::now();
    emulator.join();
    EXPECT_FALSE(feeding);
    EXPECT_FALSE(rings.RingHasData());
    EXPECT_GE(ended - lastFed, 50ms);
    EXPECT_LT(ended - lastFed, 400ms);
    EXPECT_EQ(rig.Host.Count("progress"), 0);
    EXPECT_EQ(rig.Host.Count("calctype"), 0);
}
