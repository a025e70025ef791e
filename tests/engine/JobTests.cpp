#include "platform/SimCable.h"
#include "support/JobRig.h"
#include "support/RecordingDriver.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

using namespace lodestrum;
using namespace std::chrono_literals;
using engine::TTransThread;


TEST(JobLifecycle, RefreshJobReleasesHoldsAndReleasesTheLines) {
    testkit::RecordingDriver driver;
    testkit::JobRig rig;
    rig.Env.Driver = &driver;
    rig.CalcType = 6;
    rig.Start(engine::OpRefresh);
    ASSERT_TRUE(rig.WaitEnded());

    const auto writes = driver.Writes();
    ASSERT_EQ(writes.size(), 4u);
    const uint8_t expected[] = {3, 3, 0, 3};
    for (std::size_t i = 0; i < writes.size(); ++i) {
        EXPECT_EQ(writes[i].Port, 0x378u);
        EXPECT_EQ(writes[i].Value, expected[i]) << i;
    }
    EXPECT_GE(writes[3].At - writes[2].At, 15ms);
    EXPECT_EQ(rig.Host.Events(),
              (std::vector<std::string>{"progress:0", "calctype:6:TI86"}));
    EXPECT_TRUE(rig.Host.AllCallsOnWindowThread());
}

TEST(JobLifecycle, UnusedCodesRunOnlyTheEndOfJobSequence) {
    for (uint8_t op : {uint8_t{0}, uint8_t{9}, uint8_t{42}, uint8_t{255}}) {
        testkit::RecordingDriver driver;
        testkit::JobRig rig;
        rig.Env.Driver = &driver;
        rig.Start(op);
        ASSERT_TRUE(rig.WaitEnded());
        EXPECT_EQ(driver.ValuesWrittenTo(0x378), (std::vector<uint8_t>{3, 3, 0, 3})) << int(op);
        EXPECT_EQ(rig.Host.Count("progress:0"), 1);
    }
}

TEST(JobLifecycle, ReceiveLoopRefreshesTheListOnceThenFinishes) {
    static int calls;
    calls = 0;
    testkit::RecordingDriver driver;
    testkit::JobRig rig;
    rig.Env.Driver = &driver;
    rig.Transfers.ReceiveVariable = [](TTransThread&) { return ++calls < 3; };
    rig.Start(engine::OpReceiveVariables);
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(rig.Host.Events(),
              (std::vector<std::string>{"refresh", "progress:0", "calctype:3:TI83"}));
}

TEST(JobLifecycle, CloseSeriesPausesAfterTheEndOfTransmission) {
    static std::chrono::steady_clock::time_point sent;
    testkit::RecordingDriver driver;
    testkit::JobRig rig;
    rig.Env.Driver = &driver;
    rig.Transfers.SendEot = [](TTransThread&) { sent = std::chrono::steady_clock::now(); };
    rig.Start(engine::OpCloseSeries);
    ASSERT_TRUE(rig.WaitEnded());
    const auto writes = driver.Writes();
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_GE(writes[1].At - sent, 100ms);
}

TEST(JobLifecycle, CompletionRunsOnTheWindowThreadAfterTheJobEnded) {
    testkit::JobRig rig;
    testkit::RecordingDriver driver;
    rig.Env.Driver = &driver;
    std::atomic<bool> onWindow{false};
    std::atomic<int> writesAtCompletion{-1};
    rig.Host.RunOnWindowThread([&] {
        TTransThread::Create("", engine::OpRefresh, rig.Settings, rig.Env, rig.Host, rig.CalcType,
                             [&](TTransThread&) {
                                 onWindow = rig.Host.OnWindowThread();
                                 writesAtCompletion = static_cast<int>(driver.Writes().size());
                             });
    });
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_TRUE(onWindow);
    EXPECT_EQ(writesAtCompletion, 4);
}

TEST(JobSnapshot, DelayTextIsReadLikeTheWindowReadsIt) {
    const std::pair<const char*, int32_t> cases[] = {
        {"1000", 1000}, {"  -12", -12}, {"abc", 0}, {"", 0},   {"+7x", 7},
        {"-", 0},       {"  ", 0},      {"0", 0},   {"12 3", 12}, {"99999999999", INT32_MAX},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(engine::ParseDelayText(text), expected) << '"' << text << '"';
}

TEST(JobSnapshot, TakesEveryFieldAtCreationAndIgnoresLaterChanges) {
    testkit::RecordingDriver driver;
    testkit::JobRig rig;
    rig.Env.Driver = &driver;
    rig.Settings.LinkPortIndex = 5;
    rig.Settings.InvertLines = true;
    rig.Settings.TI86FourParts = true;
    rig.Settings.TI89SendToFolder = true;
    rig.Settings.DelayText = " 250";
    rig.Settings.DefaultFolder = "abcdefgh";
    struct Seen {
        uint32_t In, Out;
        bool Invert, FourParts, ToFolder;
        int32_t Delay;
        std::string Folder, File;
        uint8_t Op;
        uint32_t Parts;
        bool NoData;
    } seen{};
    std::atomic<bool> go{false};
    rig.StartBody([&](TTransThread& job) {
        while (!go) std::this_thread::sleep_for(1ms);
        seen = {job.InPort,      job.OutPort,       job.InvertLines, job.TI86FourParts,
                job.TI89SendToFolder, job.Delay,    job.DefaultFolder, job.FileName,
                job.TransferOp,  job.PartCount,     !job.FileData.has_value()};
    });
    rig.Settings = {}; // the window's controls change while the job runs
    go = true;
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_EQ(seen.In, 0x2FEu);
    EXPECT_EQ(seen.Out, 0x2FCu);
    EXPECT_TRUE(seen.Invert);
    EXPECT_TRUE(seen.FourParts);
    EXPECT_TRUE(seen.ToFolder);
    EXPECT_EQ(seen.Delay, 250);
    EXPECT_EQ(seen.Folder, "abcdefgh");
    EXPECT_EQ(seen.File, "body");
    EXPECT_EQ(seen.Op, 5);
    EXPECT_EQ(seen.Parts, 1u);
    EXPECT_TRUE(seen.NoData);
}

TEST(JobSnapshot, DefaultFolderKeepsAtMostEightCharacters) {
    testkit::JobRig rig;
    rig.Settings.LinkPortIndex = -1;
    rig.Settings.UseVirtualLink = true;
    rig.Settings.DefaultFolder = "abcdefghij";
    std::string folder;
    rig.StartBody([&](TTransThread& job) { folder = job.DefaultFolder; });
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_EQ(folder, "abcdefgh");
}

TEST(JobFileData, ABufferReleasedEarlyIsNotReleasedAgain) {
    testkit::RecordingDriver driver;
    testkit::JobRig rig;
    rig.Env.Driver = &driver;
    std::atomic<int> releases{-1};
    rig.Transfers.SendFile = [](TTransThread& job) {
        ASSERT_TRUE(job.AllocateFileData(100));
        job.ReleaseFileData();
        EXPECT_FALSE(job.FileData.has_value());
    };
    rig.Host.RunOnWindowThread([&] {
        TTransThread::Create("x", engine::OpSendSingle, rig.Settings, rig.Env, rig.Host,
                             rig.CalcType,
                             [&](TTransThread& job) { releases = job.FileDataReleases; });
    });
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_EQ(releases, 1);
}

TEST(JobFileData, FinishJobReleasesWhatIsStillHeld) {
    testkit::RecordingDriver driver;
    testkit::JobRig rig;
    rig.Env.Driver = &driver;
    std::atomic<int> releases{-1};
    std::atomic<bool> heldAtEnd{true};
    rig.Transfers.SendFile = [](TTransThread& job) { ASSERT_TRUE(job.AllocateFileData(10)); };
    rig.Host.RunOnWindowThread([&] {
        TTransThread::Create("x", engine::OpSendSingle, rig.Settings, rig.Env, rig.Host,
                             rig.CalcType, [&](TTransThread& job) {
                                 releases = job.FileDataReleases;
                                 heldAtEnd = job.FileData.has_value();
                             });
    });
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_EQ(releases, 1);
    EXPECT_FALSE(heldAtEnd);
}

TEST(JobFileData, AnAbsurdSizeIsRefusedNotAllocated) {
    testkit::JobRig rig;
    rig.Settings.UseVirtualLink = true;
    bool allocated = true;
    rig.StartBody([&](TTransThread& job) { allocated = job.AllocateFileData(0xFFFFFFFFull); });
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_FALSE(allocated);
}

TEST(JobPort, NoPortChosenTouchesNoPortAndSaysSo) {
    testkit::RecordingDriver driver;
    testkit::JobRig rig;
    rig.Env.Driver = &driver;
    rig.Settings.LinkPortIndex = -1;
    bool ran = false;
    rig.StartBody([&](TTransThread&) { ran = true; });
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_FALSE(ran);
    EXPECT_TRUE(driver.Writes().empty());
    EXPECT_EQ(driver.Reads(), 0);
    EXPECT_EQ(rig.Host.Statuses(), (std::vector<std::string>{"No link port selected."}));
    EXPECT_EQ(rig.Host.Outcomes().back(), engine::JobOutcome::Error);
}

// The second job is created while the first still drives the port: its
// creation-time release must wait, so the first job's writes are never
// interleaved with the second's.
TEST(JobSerialisation, OverlappingJobsTakeTurnsOnThePort) {
    testkit::RecordingDriver driver;
    testkit::JobRig rig;
    rig.Env.Driver = &driver;
    std::atomic<bool> release{false};
    std::atomic<bool> inFirst{false};
    rig.StartBody([&](TTransThread& job) {
        inFirst = true;
        while (!release) std::this_thread::sleep_for(1ms);
        job.WriteOut(1); // a mark that belongs to the first job
    });
    while (!inFirst) std::this_thread::sleep_for(1ms);
    rig.Start(engine::OpRefresh);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(driver.ValuesWrittenTo(0x378), (std::vector<uint8_t>{3}));
    release = true;
    ASSERT_TRUE(rig.WaitEnded(2));
    EXPECT_EQ(driver.ValuesWrittenTo(0x378),
              (std::vector<uint8_t>{3, 1, 3, 0, 3, /* second job */ 3, 3, 0, 3}));
}

TEST(JobSerialisation, AJobStoppedWhileWaitingNeverTouchesThePort) {
    testkit::RecordingDriver driver;
    testkit::JobRig rig;
    rig.Env.Driver = &driver;
    std::atomic<bool> release{false};
    std::atomic<bool> inFirst{false};
    rig.StartBody([&](TTransThread&) {
        inFirst = true;
        while (!release) std::this_thread::sleep_for(1ms);
    });
    while (!inFirst) std::this_thread::sleep_for(1ms);
    auto* second = rig.Start(engine::OpRefresh);
    rig.Stop(second);
    ASSERT_TRUE(rig.WaitEnded(1));
    EXPECT_EQ(rig.Host.Outcomes().front(), engine::JobOutcome::Stopped);
    release = true;
    ASSERT_TRUE(rig.WaitEnded(2));
    EXPECT_EQ(driver.ValuesWrittenTo(0x378), (std::vector<uint8_t>{3, 3, 0, 3}));
}

TEST(JobStop, StoppingDuringAByteWaitEndsThroughFinishJob) {
    platform::SimCable cable(0); // nothing answers at the far end
    testkit::RecordingDriver driver(&cable);
    for (bool sending : {true, false}) {
        testkit::JobRig rig;
        rig.Env.Driver = &driver;
        driver.Clear();
        std::atomic<bool> started{false};
        auto* job = rig.StartBody([&](TTransThread& j) {
            started = true;
            if (sending)
                j.SendByte(0x5A);
            else
                (void)j.ReceiveByte();
        });
        while (!started) std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(20ms);
        const auto stoppedAt = std::chrono::steady_clock::now();
        rig.Stop(job);
        ASSERT_TRUE(rig.WaitEnded());
        EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, 2s);
        const auto values = driver.ValuesWrittenTo(0x378);
        ASSERT_GE(values.size(), 4u);
        EXPECT_EQ((std::vector<uint8_t>(values.end() - 3, values.end())),
                  (std::vector<uint8_t>{3, 0, 3}));
        EXPECT_EQ(cable.PcDriven(), 3) << "lines left pulled";
        EXPECT_EQ(rig.Host.Outcomes().back(), engine::JobOutcome::Stopped);
    }
}

TEST(JobDetect, ScoresEveryPortAndSelectsTheLastCableFound) {
    // A fake bank of ports: entry 0 follows every write, entry 4 reads both
    // lines low whenever either is pulled, the rest always read high.
    class Ports : public platform::PortDriver {
    public:
        void WritePort(uint32_t port, uint8_t value) override { Last[port] = value; }
        uint8_t ReadPort(uint32_t port) override {
            const uint8_t out = Last.count(port - 1) ? Last[port - 1] : 3;
            if (port == 0x379) return 0xCF | ((out & 1) ? 0x20 : 0) | ((out & 2) ? 0x10 : 0);
            if (port == 0x3FE) {
                const uint8_t mcr = Last.count(0x3FC) ? Last[0x3FC] : 3;
                return mcr == 3 ? 0xFF : 0xCF;
            }
            return 0xFF;
        }
        std::map<uint32_t, uint8_t> Last;
    } ports;
    testkit::JobRig rig;
    rig.Env.Driver = &ports;
    rig.Start(engine::OpDetectCable);
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_EQ(rig.Host.Events(),
              (std::vector<std::string>{
                  "port:0", "status:A cable seems to be at 0x378-LPT.", "port:4",
                  "status:Cable (2) seems to be at 0x3F8-COM. Calculator connected or "
                  "Short-circuit in cable."}));
    EXPECT_EQ(ports.Last[0x2EC], 3);
}

TEST(JobDetect, ReportsNoCableAndLeavesTheSelector) {
    testkit::RecordingDriver driver; // reads 0xFF everywhere
    testkit::JobRig rig;
    rig.Env.Driver = &driver;
    rig.Start(engine::OpDetectCable);
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_EQ(rig.Host.Events(), (std::vector<std::string>{
                                     "status:No cable was detected! Make sure calculator is "
                                     "disconnected."}));
    EXPECT_EQ(driver.Writes().size(), 1u + 8 * 5) << "the release at the job's turn, then the scan";
    EXPECT_EQ(rig.Host.Count("progress"), 0);
    EXPECT_EQ(rig.Host.Count("calctype"), 0);
}

TEST(JobDetect, DoesNothingOnTheVirtualLink) {
    testkit::RecordingDriver driver;
    testkit::JobRig rig;
    rig.Env.Driver = &driver;
    rig.Settings.UseVirtualLink = true;
    rig.Start(engine::OpDetectCable);
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_TRUE(driver.Writes().empty());
    EXPECT_EQ(rig.Host.Statuses(),
              (std::vector<std::string>{"The Virtual Link is used. No address needed."}));
}
