#include "VlinkSupport.h"

#include "engine/VirtualLink.h"
#include "files/Ti8xFile.h"
#include "platform/GlobalAtoms.h"
#include "platform/MessageEndpoint.h"
#include "support/JobRig.h"
#include "transfers/Transfers.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <thread>

using namespace lodestrum;
using namespace std::chrono_literals;
using engine::VirtualLink;
using platform::LinkMessage;
using platform::Message;
using Clock = std::chrono::steady_clock;

namespace {

engine::VirtualLinkOptions Options(const std::string& tag = "v") {
    engine::VirtualLinkOptions o;
    o.RingPrefix = testkit::UniquePrefix(tag);
    return o;
}

std::unique_ptr<VirtualLink> StartLink(engine::VirtualLinkOptions options = Options()) {
    auto link = std::make_unique<VirtualLink>(std::move(options));
    std::string error;
    EXPECT_TRUE(link->Start(error)) << error;
    return link;
}

Message SendBufferNaming(const std::string& name, platform::ScopedAtom& atom) {
    Message m;
    m.Number = LinkMessage::SendBuffer;
    m.LParam = atom.Atom();
    m.Atom = name;
    return m;
}

// ring: the emulator's ring-name prefix, its default when empty.
std::vector<std::string> VcalcArgs(const std::filesystem::path& dir, const std::string& ring = {}) {
    std::vector<std::string> args = {"--model", "83", "--dir", dir.string()};
    if (!ring.empty()) args.insert(args.end(), {"--ring", ring});
    if (const char* log = std::getenv("LODESTRUM_SIM_LOG"); log && *log == '1') args.push_back("--log");
    return args;
}

std::filesystem::path Example(const char* name) {
    return std::filesystem::path(LODESTRUM_EXAMPLES) / name;
}

} // namespace

TEST(VirtualLinkStart, ThirdCopyTakesNumberTwo) {
    testkit::IsolatedRuntime rt;
    const auto options = Options("c");
    auto first = StartLink(options);
    auto second = StartLink(options);
    auto third = StartLink(options);
    EXPECT_EQ(first->OwnRingName(), options.RingPrefix + "0");
    EXPECT_EQ(second->OwnRingName(), options.RingPrefix + "1");
    EXPECT_EQ(third->OwnRingName(), options.RingPrefix + "2");
    EXPECT_TRUE(second->MutexExisted());
    EXPECT_TRUE(third->EmuWindow().empty()) << "no TEmuWnd listens";
}

TEST(VirtualLinkStart, DefaultRingNameFollowsTheFormat) {
    testkit::IsolatedRuntime rt;
    VirtualLink link;
    std::string error;
    ASSERT_TRUE(link.Start(error)) << error;
    const auto name = link.OwnRingName();
    ASSERT_EQ(name.rfind("Virtual Link ", 0), 0u);
    EXPECT_EQ(name.find_first_not_of("0123456789", 13), std::string::npos);
}

TEST(VirtualLinkMessages, HelloIsAnsweredWithSendBufferBeforeItsHandlerReturns) {
    testkit::IsolatedRuntime rt;
    auto program = StartLink();
    const std::string ringName = program->OwnRingName();
    std::string error;
    auto emulator = platform::MessageEndpoint::Listen("TEmuWnd", error, rt.Endpoints());
    ASSERT_TRUE(emulator) << error;
    bool inHello = false;
    std::string announced;
    emulator->SetHandler([&](const Message& m) {
        if (m.Number == LinkMessage::SendBuffer && inHello)
            announced = platform::GlobalGetAtomName(m.LParam & 0xFFFF, 31).value_or("");
    });
    std::atomic<bool> quit{false};
    std::thread window([&] { testkit::Pump(*program, [&] { return quit.load(); }, 10s); });
    Message hello;
    hello.Number = LinkMessage::Hello;
    inHello = true;
    const bool sent = emulator->Send(program->WindowName(), hello);
    inHello = false;
    quit = true;
    window.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ(announced, ringName);
    EXPECT_EQ(platform::GlobalFindAtom(ringName), 0) << "the atom is deleted after the answer";
    EXPECT_EQ(program->EmuWindow(), "TEmuWnd");
}

TEST(VirtualLinkMessages, SendBufferAttachesReplacesAndDropsPeerRings) {
    testkit::IsolatedRuntime rt;
    auto link = StartLink();
    std::string error;
    auto ringA = platform::SharedRing::CreateFirstFree(testkit::UniquePrefix("a"), error);
    auto ringB = platform::SharedRing::CreateFirstFree(testkit::UniquePrefix("b"), error);
    ASSERT_TRUE(ringA && ringB) << error;
    struct Case {
        std::string Name;
        std::string Attached; // afterwards
    } cases[] = {
        {ringA->Name(), ringA->Name()},
        {ringB->Name(), ringB->Name()},          // a later one replaces it
        {std::string(200, 'V'), ""},             // cut to 31 and not found: none
        {ringA->Name(), ringA->Name()},
        {"no such ring", ""},
    };
    for (const auto& c : cases) {
        platform::ScopedAtom atom(c.Name);
        link->WMSendBuffer(SendBufferNaming(c.Name, atom));
        EXPECT_EQ(link->PeerRingName(), c.Attached) << c.Name.substr(0, 40);
    }
    platform::RingPutByte(ringA->Ring(), 0x33);
    link->WMSendBuffer([&] {
        Message m;
        m.Number = LinkMessage::SendBuffer;
        m.LParam = 0xFFFF; // an atom nobody added
        return m;
    }());
    EXPECT_FALSE(link->HasPeerRing());
    EXPECT_FALSE(link->RingHasData());
}

TEST(VirtualLinkMessages, UnknownNumbersAreAnsweredAndIgnored) {
    testkit::IsolatedRuntime rt;
    auto link = StartLink();
    std::string error;
    auto other = platform::MessageEndpoint::Listen("Other", error, rt.Endpoints());
    ASSERT_TRUE(other);
    std::atomic<bool> quit{false};
    std::thread window([&] { testkit::Pump(*link, [&] { return quit.load(); }, 10s); });
    for (uint32_t number : {0u, 1124u, 1127u, 1143u, 0xFFFFFFFFu}) {
        Message m;
        m.Number = number;
        m.Atom = "x";
        EXPECT_TRUE(other->Send(link->WindowName(), m)) << number;
    }
    quit = true;
    window.join();
    EXPECT_TRUE(link->EmuWindow().empty());
    EXPECT_FALSE(link->HasPeerRing());
}

TEST(VirtualLinkJob, BytesCrossTheRealRingsInOrder) {
    testkit::IsolatedRuntime rt;
    auto link = StartLink();
    std::string error;
    auto peerOfOwn = platform::SharedRing::Open(link->OwnRingName(), error);
    ASSERT_TRUE(peerOfOwn) << error;
    testkit::JobRig rig;
    rig.Env.Virtual = link.get();
    rig.Settings.UseVirtualLink = true;
    std::vector<uint8_t> out(600);
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(i * 13);
    rig.StartBody([&](engine::TTransThread& job) { job.SendBlock(out.data(), 600); });
    // The emulator's side: reads slowly, so the job meets a full ring.
    std::vector<uint8_t> in;
    const auto deadline = Clock::now() + 10s;
    while (in.size() < out.size() && Clock::now() < deadline) {
        if (platform::RingHasData(peerOfOwn->Ring()))
            in.push_back(platform::RingGetByte(peerOfOwn->Ring()));
        else
            std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_EQ(in, out);
}

TEST(VirtualLinkJob, PeerRingReplacedUnderAWaitingJob) {
    testkit::IsolatedRuntime rt;
    auto link = StartLink();
    std::string error;
    auto empty = platform::SharedRing::CreateFirstFree(testkit::UniquePrefix("e"), error);
    auto full = platform::SharedRing::CreateFirstFree(testkit::UniquePrefix("f"), error);
    ASSERT_TRUE(empty && full);
    for (uint8_t b : {1, 2, 3, 4}) platform::RingPutByte(full->Ring(), b);
    testkit::JobRig rig;
    rig.Env.Virtual = link.get();
    rig.Settings.UseVirtualLink = true;
    std::array<uint8_t, 4> got{};
    rig.StartBody([&](engine::TTransThread& job) { job.ReceiveBlock(got.data(), 4); });
    // Swap rings under the waiting worker; each old view is unmapped at once.
    for (int i = 0; i < 10; ++i) {
        platform::ScopedAtom atom(empty->Name());
        link->WMSendBuffer(SendBufferNaming(empty->Name(), atom));
        std::this_thread::sleep_for(7ms);
    }
    platform::ScopedAtom atom(full->Name());
    link->WMSendBuffer(SendBufferNaming(full->Name(), atom));
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_EQ(got, (std::array<uint8_t, 4>{1, 2, 3, 4}));
}

TEST(VirtualLinkJob, WithoutAPeerAJobFillsTheRingAndEndsAtStop) {
    testkit::IsolatedRuntime rt;
    auto link = StartLink();
    testkit::JobRig rig;
    rig.Env.Virtual = link.get();
    rig.Settings.UseVirtualLink = true;
    std::vector<uint8_t> out(300, 0x11);
    auto* job = rig.StartBody([&](engine::TTransThread& j) { j.SendBlock(out.data(), 300); });
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(link->RingHasRoom());
    const auto stop = Clock::now();
    rig.Stop(job);
    ASSERT_TRUE(rig.WaitEnded(1, 2s));
    EXPECT_LT(Clock::now() - stop, 500ms);
}

// The program, then lodestrum-vcalc: it greets the window, both rings are
// announced, and a TI-83 program sent by a job lands in its memory folder.
TEST(VirtualLinkEndToEnd, SendsATi83ProgramToTheEmulatorProcess) {
    testkit::IsolatedRuntime rt;
    testkit::TempDir memory;
    VirtualLink link; // the real ring name, as the program makes it
    std::string error;
    ASSERT_TRUE(link.Start(error)) << error;
    testkit::VcalcProcess vcalc(VcalcArgs(memory.Path()));
    ASSERT_TRUE(vcalc.Running());
    ASSERT_TRUE(testkit::Pump(link, [&] { return link.HasPeerRing(); }));
    EXPECT_EQ(link.EmuWindow(), "TEmuWnd");
    EXPECT_EQ(link.PeerRingName().rfind("Emulator Link ", 0), 0u);

    testkit::JobRig rig;
    rig.Env.Virtual = &link;
    rig.Env.Transfers = &transfers::DefaultTransfers();
    rig.Settings.UseVirtualLink = true;
    rig.Start(engine::OpSendSingle, Example("ABC.83P").string());
    ASSERT_TRUE(rig.WaitEnded(1, 30s));
    EXPECT_EQ(rig.Host.Outcomes().back(), engine::JobOutcome::Done);
    const auto sent = files::ReadTi8xFile(testkit::ReadBytes(Example("ABC.83P")), false);
    const auto stored = files::ReadTi8xFile(testkit::ReadBytes(memory.Path() / "ABC.83P"), false);
    ASSERT_TRUE(sent && stored);
    ASSERT_EQ(stored->Variables.size(), 1u);
    EXPECT_EQ(stored->Variables[0].Header, sent->Variables[0].Header);
    EXPECT_EQ(stored->Variables[0].Parts, sent->Variables[0].Parts);

    // SIGTERM: the emulator says Goodbye on its way out.
    vcalc.Signal(SIGTERM);
    EXPECT_TRUE(testkit::Pump(link, [&] { return link.EmuWindow().empty(); }));
    EXPECT_EQ(vcalc.Wait(), 0);
}

// lodestrum-vcalc first: the program finds TEmuWnd at start-up and its
// greeting gets the emulator's ring before it returns.
TEST(VirtualLinkEndToEnd, ProgramStartingAfterTheEmulatorGreetsIt) {
    testkit::IsolatedRuntime rt;
    testkit::TempDir memory;
    testkit::VcalcProcess vcalc(VcalcArgs(memory.Path()));
    ASSERT_TRUE(testkit::WaitForEmulator(rt.Endpoints()));
    auto link = StartLink();
    EXPECT_TRUE(link->MutexExisted());
    ASSERT_EQ(link->EmuWindow(), "TEmuWnd");
    link->Greet();
    EXPECT_TRUE(link->HasPeerRing());

    // The emulator switching its cable reaches the window's handlers.
    std::vector<uint32_t> seen;
    // (The emulator's own start-up greeting may still cross ours: Hello and SendBuffer pass.)
    link->SetDispatcher([&](const Message& m) {
        if (m.Number == LinkMessage::EnableLink || m.Number == LinkMessage::DisableLink)
            seen.push_back(m.Number);
        else if (m.Number == LinkMessage::Hello)
            link->WMHello(m);
        else if (m.Number == LinkMessage::SendBuffer)
            link->WMSendBuffer(m);
    });
    // One signal at a time: two pending signals are delivered lowest number first.
    vcalc.Signal(SIGUSR2);
    EXPECT_TRUE(testkit::Pump(*link, [&] { return seen.size() >= 1; }));
    vcalc.Signal(SIGUSR1);
    EXPECT_TRUE(testkit::Pump(*link, [&] { return seen.size() >= 2; }));
    EXPECT_EQ(seen, (std::vector<uint32_t>{LinkMessage::DisableLink, LinkMessage::EnableLink}));
}

// kill -9 of the emulator: a send to it fails at once, a job waiting on its
// ring ends at Stop, and the next emulator takes over the stale socket and ring.
TEST(VirtualLinkEndToEnd, DeadOrHungEmulatorNeverHangsTheProgram) {
    testkit::IsolatedRuntime rt;
    testkit::TempDir memory;
    engine::VirtualLinkOptions options = Options("d");
    // Long enough that failing at once and failing at the time-out differ on a busy machine.
    options.SendTimeout = 3s;
    auto link = StartLink(options);
    // Emulators of tests running alongside must not take the number the killed one frees.
    const std::string ringPrefix = testkit::UniquePrefix("emu");
    auto vcalc = std::make_unique<testkit::VcalcProcess>(VcalcArgs(memory.Path(), ringPrefix));
    ASSERT_TRUE(testkit::Pump(*link, [&] { return link->HasPeerRing(); }));
    const std::string emulatorRing = link->PeerRingName();
    EXPECT_EQ(emulatorRing, ringPrefix + "0");

    // Hung: the send gives up at its time-out.
    vcalc->Signal(SIGSTOP);
    auto start = Clock::now();
    EXPECT_FALSE(link->SendToEmulator(LinkMessage::EnableLink));
    EXPECT_LT(Clock::now() - start, 10s);
    vcalc->Signal(SIGCONT);

    // Dead in the middle of a transfer.
    testkit::JobRig rig;
    rig.Env.Virtual = link.get();
    rig.Env.Transfers = &transfers::DefaultTransfers();
    rig.Settings.UseVirtualLink = true;
    testkit::TempDir work;
    std::vector<uint8_t> big(60000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i);
    std::vector<uint8_t> header = {0x60, 0xEA, 0x05, 'B', 'I', 'G', 0, 0, 0, 0, 0};
    const auto path = work.Write(
        "BIG.83P", files::BuildTi8xFile(3, files::Ti8xComment::Transferred, {{header, {big}}}));
    auto* job = rig.Start(engine::OpSendSingle, path.string());
    // Killed once the data are on their way, however fast the link runs.
    const auto sending = [&] {
        for (int p : rig.Host.ProgressValues())
            if (p > 0) return true;
        return false;
    };
    for (auto until = Clock::now() + 30s; !sending() && Clock::now() < until;)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(sending());
    vcalc->Signal(SIGKILL);
    EXPECT_GE(vcalc->Wait(), 0);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(rig.Host.JobsEnded(), 0) << "the job waits on the dead peer's ring";
    start = Clock::now();
    EXPECT_FALSE(link->SendToEmulator(LinkMessage::EnableLink));
    EXPECT_LT(Clock::now() - start, 1500ms) << "a dead peer fails the send at once";
    rig.Stop(job);
    ASSERT_TRUE(rig.WaitEnded(1, 5s));

    // The next emulator takes over the stale socket (and its stale ring), and
    // a send works again: what the stopped job left in OwnRing is not replayed.
    int announcements = 0;
    link->SetDispatcher([&](const Message& m) {
        if (m.Number == LinkMessage::Hello) link->WMHello(m);
        if (m.Number == LinkMessage::SendBuffer) {
            link->WMSendBuffer(m);
            ++announcements;
        }
    });
    vcalc = std::make_unique<testkit::VcalcProcess>(VcalcArgs(memory.Path(), ringPrefix));
    ASSERT_TRUE(testkit::Pump(*link, [&] { return announcements > 0; }));
    EXPECT_TRUE(link->HasPeerRing());
    EXPECT_EQ(link->PeerRingName(), emulatorRing)
        << "the ring the killed emulator left is taken over";
    rig.Start(engine::OpSendSingle, Example("ABC.83P").string());
    ASSERT_TRUE(rig.WaitEnded(2, 30s));
    EXPECT_EQ(rig.Host.Outcomes().back(), engine::JobOutcome::Done);
    EXPECT_TRUE(std::filesystem::exists(memory.Path() / "ABC.83P"));
    EXPECT_FALSE(std::filesystem::exists(memory.Path() / "BIG.83P"));
}
