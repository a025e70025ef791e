// The byte operations and the end-of-job drain on the real rings of the
// virtual link, with the job's pauses and tick count replaced, so that every
// pause is counted and time passes only when the job pauses.
#include "VlinkSupport.h"

#include "platform/GlobalAtoms.h"
#include "platform/SharedRing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

using namespace lodestrum;
using namespace std::chrono_literals;
using engine::TTransThread;
using platform::SharedRing;

namespace {

// The job's clock and what happens while it pauses, for the one job a test runs.
std::mutex ClockMutex;
std::vector<int> Pauses;
std::function<void(int)> DuringPause; // called with the pause's number, from 1
std::atomic<uint32_t> FakeTicks{0};
// Stopped after a thousand pauses, so that a wrong reading of the clock fails
// the test instead of pausing until the counter comes round again.
std::atomic<TTransThread*> RunawayJob{nullptr};

void FakeSleep(int milliseconds) {
    std::function<void(int)> during;
    int number;
    {
        std::lock_guard lock(ClockMutex);
        Pauses.push_back(milliseconds);
        number = static_cast<int>(Pauses.size());
        during = DuringPause;
    }
    FakeTicks += static_cast<uint32_t>(milliseconds);
    if (during) during(number);
    if (number > 1000)
        if (TTransThread* job = RunawayJob.load()) job->Terminate();
}

uint32_t FakeNow() {
    return FakeTicks.load();
}

int PauseCount() {
    std::lock_guard lock(ClockMutex);
    return static_cast<int>(Pauses.size());
}

// A started link with an emulator's ring attached as PeerRing, and the job
// rig on it with the fake clock.
struct Rings {
    explicit Rings(uint32_t startTicks = 0) {
        {
            std::lock_guard lock(ClockMutex);
            Pauses.clear();
            DuringPause = nullptr;
        }
        FakeTicks = startTicks;
        RunawayJob = nullptr;
        engine::VirtualLinkOptions options;
        options.RingPrefix = testkit::UniquePrefix("b");
        Link = std::make_unique<engine::VirtualLink>(options);
        std::string error;
        EXPECT_TRUE(Link->Start(error)) << error;
        Own = SharedRing::Open(Link->OwnRingName(), error);
        Peer = SharedRing::CreateFirstFree(testkit::UniquePrefix("e"), error);
        EXPECT_TRUE(Own && Peer) << error;
        platform::ScopedAtom atom(Peer->Name());
        platform::Message m;
        m.Number = platform::LinkMessage::SendBuffer;
        m.LParam = atom.Atom();
        Link->WMSendBuffer(m);
        EXPECT_TRUE(Link->HasPeerRing());
        Rig.Env.Virtual = Link.get();
        Rig.Env.Sleep = &FakeSleep;
        Rig.Env.Ticks = &FakeNow;
        Rig.Settings.UseVirtualLink = true;
    }
    ~Rings() {
        std::lock_guard lock(ClockMutex);
        DuringPause = nullptr;
        RunawayJob = nullptr;
    }
    void OnPause(std::function<void(int)> fn) {
        std::lock_guard lock(ClockMutex);
        DuringPause = std::move(fn);
    }

    testkit::IsolatedRuntime Runtime;
    std::unique_ptr<engine::VirtualLink> Link;
    std::unique_ptr<SharedRing> Own;  // the emulator's view of the program's ring
    std::unique_ptr<SharedRing> Peer; // the emulator's own ring
    testkit::JobRig Rig;
};

} // namespace

TEST(VirtualLinkPauses, OnlyAnEmptyOrFullRingMakesAByteOperationPause) {
    enum class Op { Send, Receive };
    struct Case {
        const char* Name;
        Op Kind;
        int Count;        // bytes the body sends or receives
        int Preloaded;    // bytes already in the ring the operation meets
        int PeerActsAt;   // the pause during which the emulator takes or puts a byte; 0 never
        bool StopInstead; // the pause sets the stop flag instead
        int ExpectedPauses;
        int ExpectedDone; // bytes the body moved
    } cases[] = {
        {"send into room", Op::Send, 200, 0, 0, false, 0, 200},
        {"receive what is there", Op::Receive, 100, 100, 0, false, 0, 100},
        {"send into a full ring until the emulator takes one", Op::Send, 1, 255, 3, false, 3, 1},
        {"receive from an empty ring until the emulator puts one", Op::Receive, 1, 0, 2, false, 2,
         1},
        {"stop while the ring is full", Op::Send, 1, 255, 1, true, 1, 0},
        {"stop while the ring is empty", Op::Receive, 1, 0, 1, true, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Rings r;
        r.Rig.Settings.InvertLines = true; // a stopped receive still gives 0
        auto& own = r.Own->Ring();
        auto& peer = r.Peer->Ring();
        for (int i = 0; i < c.Preloaded; ++i) {
            if (c.Kind == Op::Send)
                ASSERT_TRUE(r.Link->RingPutByte(0x77));
            else
                ASSERT_TRUE(platform::RingPutByte(peer, static_cast<uint8_t>(i)));
        }
        std::atomic<TTransThread*> job{nullptr};
        r.OnPause([&](int number) {
            if (number != c.PeerActsAt) return;
            if (c.StopInstead) {
                while (!job.load())
                    std::this_thread::yield();
                job.load()->Terminate();
            } else if (c.Kind == Op::Send)
                platform::RingGetByte(own);
            else
                platform::RingPutByte(peer, 0xA5);
        });
        std::atomic<int> pauses{-1}, done{0};
        std::vector<uint8_t> got;
        job = r.Rig.StartBody([&](TTransThread& j) {
            for (int i = 0; i < c.Count && !j.Terminated(); ++i) {
                if (c.Kind == Op::Send) {
                    j.SendByte(static_cast<uint8_t>(i));
                    if (!j.Terminated()) ++done;
                } else {
                    got.push_back(j.ReceiveByte());
                    if (!j.Terminated()) ++done;
                }
            }
            pauses = PauseCount();
        });
        ASSERT_TRUE(r.Rig.WaitEnded(1, 10s));
        EXPECT_EQ(pauses, c.ExpectedPauses);
        EXPECT_EQ(done, c.ExpectedDone);
        {
            std::lock_guard lock(ClockMutex);
            for (int ms : Pauses)
                EXPECT_EQ(ms, 50);
        }
        if (c.StopInstead && c.Kind == Op::Receive) {
            EXPECT_EQ(got, std::vector<uint8_t>{0});
        }
        if (c.StopInstead && c.Kind == Op::Send) {
            EXPECT_FALSE(platform::RingHasRoom(own));
        }
        if (c.Kind == Op::Receive && c.PeerActsAt && !c.StopInstead) {
            EXPECT_EQ(got, std::vector<uint8_t>{0x5A}) << "complemented on the way in";
        }
    }
}

// FinishJob on the virtual link: every pending byte is thrown away, and the
// job ends once more than 50 ms have passed since the last one, whatever the
// tick count's value, its wrap included.
TEST(VirtualLinkDrain, EndsAfterFiftyQuietMillisecondsAcrossTheCounterWrap) {
    struct Case {
        uint32_t StartTicks;
        bool ByteDuringFirstPause;
        int ExpectedPauses;
    } cases[] = {
        {0, false, 2},          {1000, false, 2},       {0x7FFFFFE0, false, 2},
        {0xFFFFFFC0, false, 2}, {0xFFFFFFFF, false, 2}, {0xFFFFFFE0, true, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.StartTicks);
        Rings r(c.StartTicks);
        auto& peer = r.Peer->Ring();
        for (uint8_t b : {1, 2, 3, 4, 5})
            ASSERT_TRUE(platform::RingPutByte(peer, b));
        if (c.ByteDuringFirstPause)
            r.OnPause([&](int number) {
                if (number == 1) platform::RingPutByte(peer, 6);
            });
        RunawayJob = r.Rig.StartBody([](TTransThread& j) { j.Progress = 42; });
        ASSERT_TRUE(r.Rig.WaitEnded(1, 10s));
        EXPECT_EQ(PauseCount(), c.ExpectedPauses);
        EXPECT_FALSE(platform::RingHasData(peer));
        EXPECT_EQ(r.Rig.Host.Count("progress"), 0) << "progress is left as it was";
        EXPECT_EQ(r.Rig.Host.Count("calctype"), 0);
    }
}

// A peer that writes indices above 255 and keeps its ring filled: the job
// reads inside the 256 slots, and Stop still ends it.
TEST(VirtualLinkHostilePeer, WildIndicesNeitherCrashNorHoldAStoppedJob) {
    testkit::IsolatedRuntime runtime;
    engine::VirtualLinkOptions options;
    options.RingPrefix = testkit::UniquePrefix("h");
    engine::VirtualLink link(options);
    std::string error;
    ASSERT_TRUE(link.Start(error)) << error;
    auto peer = SharedRing::CreateFirstFree(testkit::UniquePrefix("w"), error);
    ASSERT_TRUE(peer) << error;
    auto& ring = peer->Ring();
    for (int i = 0; i < 256; ++i)
        ring.Data[i] = static_cast<uint8_t>(i);
    std::atomic_ref<uint32_t>(ring.ReadIndex).store(0xFFFFFF00);
    {
        platform::ScopedAtom atom(peer->Name());
        platform::Message m;
        m.Number = platform::LinkMessage::SendBuffer;
        m.LParam = atom.Atom();
        link.WMSendBuffer(m);
    }
    std::atomic<bool> quit{false};
    std::thread hostile([&] {
        while (!quit) {
            const uint32_t read = std::atomic_ref<uint32_t>(ring.ReadIndex).load();
            std::atomic_ref<uint32_t>(ring.WriteIndex).store(0xABCD0000u | ((read + 200) & 0xFF));
            std::this_thread::yield();
        }
    });
    testkit::JobRig rig;
    rig.Env.Virtual = &link;
    rig.Settings.UseVirtualLink = true;
    std::vector<uint8_t> got(300);
    auto* job = rig.StartBody([&](TTransThread& j) { j.ReceiveBlock(got.data(), 300); });
    std::this_thread::sleep_for(300ms);
    const auto stop = std::chrono::steady_clock::now();
    rig.Stop(job);
    const bool ended = rig.WaitEnded(1, 3s);
    quit = true;
    hostile.join();
    ASSERT_TRUE(ended);
    EXPECT_LT(std::chrono::steady_clock::now() - stop, 1s);
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(got[i], static_cast<uint8_t>(i)) << i;
    EXPECT_LE(ring.ReadIndex, 255u);
}

// An emulator that never falls silent keeps the drain going, but only until Stop.
TEST(VirtualLinkDrain, StopEndsTheDrainOfAPeerThatNeverFallsSilent) {
    class Endless : public engine::VirtualCable {
      public:
        bool RingHasData() override { return On.load(); }
        uint8_t RingGetByte() override {
            ++Taken;
            return 0x55;
        }
        bool RingHasRoom() override { return true; }
        bool RingPutByte(uint8_t) override { return true; }
        std::atomic<bool> On{true};
        std::atomic<long> Taken{0};
    } cable;
    testkit::JobRig rig;
    rig.Env.Virtual = &cable;
    rig.Settings.UseVirtualLink = true;
    auto* job = rig.StartBody([](TTransThread&) {});
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(rig.Host.JobsEnded(), 0) << "the drain goes on while bytes keep coming";
    EXPECT_GT(cable.Taken.load(), 0);
    rig.Stop(job);
    const bool ended = rig.WaitEnded(1, 2s);
    cable.On = false; // so that a drain deaf to Stop still lets the test end
    EXPECT_TRUE(ended);
}
