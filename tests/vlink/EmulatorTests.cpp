// The program's jobs over the virtual link against lodestrum-vcalc in a
// process of its own: what crossed the rings and the files each side wrote.
#include "VlinkSupport.h"

#include "files/FlashFile.h"
#include "files/MonoImageFile.h"
#include "files/Ti89File.h"
#include "files/Ti8xFile.h"
#include "platform/MessageEndpoint.h"
#include "vcalc/SimCalculator.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <thread>
#include <tuple>

using namespace lodestrum;
using namespace std::chrono_literals;
using testkit::EmulatorRig;
using testkit::ReadBytes;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint8_t VAR = 0x06, CTS = 0x09, DATA = 0x15, ACK = 0x56, SCR = 0x6D, CONT = 0x78,
                  EOT = 0x92;

std::filesystem::path Example(const std::string& name) {
    return std::filesystem::path(LODESTRUM_EXAMPLES) / name;
}

std::vector<uint8_t> Commands(std::initializer_list<int> list) {
    return std::vector<uint8_t>(list.begin(), list.end());
}

// Folder, name, type and contents of every variable of a TI-89/92 file.
using Ti89Content = std::tuple<std::string, std::string, uint8_t, std::vector<uint8_t>>;
std::set<Ti89Content> Ti89Contents(const std::vector<uint8_t>& image) {
    std::set<Ti89Content> out;
    const auto table = files::ReadTi89Table(image);
    if (!table) return out;
    std::string folder = table->Folder;
    for (const auto& e : table->Entries) {
        if (e.TypeId == files::Ti89FolderTypeId) {
            folder = e.Name;
            continue;
        }
        const auto contents = files::Ti89VariableContents(image, e.Offset);
        if (contents) out.insert({folder, e.Name, e.TypeId, {contents->begin(), contents->end()}});
    }
    return out;
}

std::set<Ti89Content> Ti89ContentsOfFolder(const std::filesystem::path& folder) {
    std::set<Ti89Content> out;
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        const auto some = Ti89Contents(ReadBytes(item.path()));
        out.insert(some.begin(), some.end());
    }
    return out;
}

// The data of a FLASH file's first block that is no licence.
std::vector<uint8_t> FlashData(const std::vector<uint8_t>& image) {
    std::size_t start = 0;
    while (const auto h = files::ReadFlashHeader(image, start)) {
        if (!h->IsLicense())
            return {image.begin() + static_cast<std::ptrdiff_t>(h->DataStart),
                    image.begin() + static_cast<std::ptrdiff_t>(h->DataStart + h->DataSize)};
        start = h->NextBlock();
    }
    return {};
}

std::vector<std::string> FilesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(folder))
        names.push_back(item.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(EmulatorEndToEnd, SendsEachKindOfFileIntoTheEmulatorsMemory) {
    struct Case {
        const char* Name;
        const char* Model;
        const char* File;
        bool VarLinkOnly;
        std::vector<bool> Answers;
        std::vector<std::string> Stored;
        std::vector<uint8_t> FromPc; // packet commands the program sent
    } cases[] = {
        {"TI-89 group, one transmission per variable",
         "89",
         "GROUP.89G",
         false,
         {},
         {"a.89E", "b.89E", "c.89P"},
         Commands({VAR, ACK, DATA, EOT, VAR, ACK, DATA, EOT, VAR, ACK, DATA, EOT})},
        {"TI-89 group in one transmission",
         "89",
         "GROUP.89G",
         true,
         {},
         {"a.89E", "b.89E", "c.89P"},
         Commands({VAR, ACK, DATA, VAR, ACK, DATA, VAR, ACK, DATA, EOT})},
        {"FLASH application",
         "89",
         "hello.89k",
         false,
         {true, true},
         {"hello.flash"},
         Commands({VAR, ACK, DATA, EOT})},
        {"AMS update",
         "89",
         "tiny.tib",
         false,
         {true, true},
         {"AMS.tib"},
         Commands({VAR, ACK, DATA, EOT})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EmulatorRig r(testkit::VcalcArgs(c.Model));
        ASSERT_TRUE(r.Linked());
        r.Rig.Settings.TI89VarLinkOnly = c.VarLinkOnly;
        for (bool a : c.Answers)
            r.Rig.Host.QueueYesNo(a);
        r.Start(engine::OpSendSingle, Example(c.File).string());
        ASSERT_TRUE(r.WaitEnded());
        EXPECT_EQ(r.Rig.Host.Outcomes().back(), engine::JobOutcome::Done);
        EXPECT_EQ(FilesIn(r.Memory.Path()), c.Stored);
        EXPECT_EQ(testkit::PacketCommands(r.Cable.Put()), c.FromPc);
        const auto sent = ReadBytes(Example(c.File));
        if (c.Stored[0].ends_with(".flash"))
            EXPECT_EQ(ReadBytes(r.Memory.Path() / c.Stored[0]), FlashData(sent));
        else if (c.Stored[0] == "AMS.tib")
            EXPECT_EQ(ReadBytes(r.Memory.Path() / c.Stored[0]), sent);
        else
            EXPECT_EQ(Ti89ContentsOfFolder(r.Memory.Path()), Ti89Contents(sent));
    }
}

// The calculator sends what its user asks for once the job waits on the
// emulator's ring, or what its options asked for once the window is linked.
TEST(EmulatorEndToEnd, ReceivesAVariableAndABackupFromTheEmulator) {
    struct Case {
        const char* Name;
        std::vector<std::string> Options;
        const char* Command; // typed while the job waits; none when empty
        std::optional<std::string> SaveAs;
        std::string Written;
        std::size_t Parts;
        std::vector<uint8_t> FromCalc, FromPc;
    } cases[] = {
        {"variable",
         {},
         "send ABC",
         std::nullopt,
         "ABC.83P",
         1,
         Commands({VAR, ACK, DATA, EOT}),
         Commands({ACK, CTS, ACK, ACK})},
        {"backup",
         {},
         "backup",
         "Backup.83B",
         "Backup.83B",
         3,
         Commands({VAR, ACK, DATA, DATA, DATA}),
         Commands({ACK, CTS, ACK, ACK, ACK})},
        {"variable by option",
         {"--send", "ABC"},
         "",
         std::nullopt,
         "ABC.83P",
         1,
         Commands({VAR, ACK, DATA, EOT}),
         Commands({ACK, CTS, ACK, ACK})},
        {"backup by option",
         {"--backup"},
         "",
         "Backup.83B",
         "Backup.83B",
         3,
         Commands({VAR, ACK, DATA, DATA, DATA}),
         Commands({ACK, CTS, ACK, ACK, ACK})},
    };
    const auto abc = files::ReadTi8xFile(ReadBytes(Example("ABC.83P")), false);
    ASSERT_TRUE(abc);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EmulatorRig r(testkit::VcalcArgs("83", c.Options), {Example("ABC.83P")});
        ASSERT_TRUE(r.Linked());
        if (c.SaveAs) r.Rig.Host.QueueSaveAnswer(*c.SaveAs);
        r.Start(engine::OpReceiveVariables);
        if (*c.Command) {
            // The job is waiting on the ring before the user presses send.
            std::this_thread::sleep_for(100ms);
            ASSERT_TRUE(r.Vcalc->Command(c.Command));
        }
        ASSERT_TRUE(r.WaitEnded());
        EXPECT_EQ(r.Rig.Host.Outcomes().back(), engine::JobOutcome::Done);
        EXPECT_EQ(FilesIn(r.Work.Path()), std::vector<std::string>{c.Written});
        const auto got = files::ReadTi8xFile(ReadBytes(r.Work.Path() / c.Written), false);
        ASSERT_TRUE(got);
        ASSERT_EQ(got->Variables.size(), 1u);
        ASSERT_EQ(got->Variables[0].Parts.size(), c.Parts);
        if (c.Parts == 1) {
            EXPECT_EQ(got->Variables[0].Header, abc->Variables[0].Header);
            EXPECT_EQ(got->Variables[0].Parts, abc->Variables[0].Parts);
        } else {
            // The user memory part holds the calculator's one variable.
            EXPECT_EQ(got->Variables[0].Parts[2], abc->Variables[0].Parts[0]);
        }
        EXPECT_EQ(testkit::PacketCommands(r.Cable.Got()), c.FromCalc);
        EXPECT_EQ(testkit::PacketCommands(r.Cable.Put()), c.FromPc);
    }
}

TEST(EmulatorEndToEnd, CapturesTheEmulatorsScreen) {
    testkit::TempDir pictures;
    // 96 x 64: the top row black, the rest white.
    files::MonoBitmap picture{96, 64, std::vector<uint8_t>(12 * 64, 0xFF)};
    std::fill_n(picture.Bits.begin(), 12, 0x00);
    const auto bmp = pictures.Write("screen.bmp", files::EncodeMonoBmp(picture));
    vcalc::CalcOptions ti89;
    ti89.Kind = vcalc::Model::TI89;
    std::vector<uint8_t> pattern = vcalc::ScreenBytes(ti89);
    for (auto& b : pattern)
        b = static_cast<uint8_t>(~b);
    struct Case {
        const char* Name;
        std::vector<std::string> Args;
        int Width, Height;
        std::vector<uint8_t> Bits;
    } cases[] = {
        {"TI-83 showing a picture", testkit::VcalcArgs("83", {"--screen", bmp.string()}), 96, 64,
         picture.Bits},
        {"TI-89 test pattern", testkit::VcalcArgs("89"), 240, 128, pattern},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EmulatorRig r(c.Args);
        ASSERT_TRUE(r.Linked());
        r.Start(engine::OpCaptureScreen);
        ASSERT_TRUE(r.WaitEnded());
        const auto image = r.Rig.Host.LastImage();
        ASSERT_TRUE(image);
        EXPECT_EQ(image->Width, c.Width);
        EXPECT_EQ(image->Height, c.Height);
        EXPECT_EQ(image->Bits, c.Bits);
        EXPECT_EQ(testkit::PacketCommands(r.Cable.Put()), Commands({SCR}));
        // The checksum the capture leaves unread is drained at the job's end.
        EXPECT_FALSE(r.Link.RingHasData());
        EXPECT_EQ(testkit::PacketCommands(r.Cable.Got()), Commands({ACK, DATA}));
    }
}

TEST(EmulatorProgram, HelpAndBadOptions) {
    struct Case {
        std::vector<std::string> Args;
        int Status;
    } cases[] = {
        {{"--help"}, 0},       {{"--model", "84"}, 2},
        {{"--skip", "3"}, 2},  {{"--dir", "/nowhere/at/all"}, 2},
        {{"--bogus", "1"}, 2}, {{"--model"}, 2},
        {{"stray"}, 2},        {{"--ring", "a/b"}, 2},
        {{"--ring", std::string(30, 'r')}, 2},
    };
    for (const auto& c : cases) {
        testkit::IsolatedRuntime rt;
        testkit::VcalcProcess vcalc(c.Args);
        EXPECT_EQ(vcalc.Wait(), c.Status) << testing::PrintToString(c.Args);
        EXPECT_FALSE(std::filesystem::exists(rt.Endpoints() / "TEmuWnd"));
    }
}

// A second emulator while one runs gives up at once and leaves the first
// working; unknown message numbers and a dead window's socket are ignored.
TEST(EmulatorProgram, SecondCopyUnknownMessagesAndStaleWindowsChangeNothing) {
    EmulatorRig r(testkit::VcalcArgs("83"));
    ASSERT_TRUE(r.Linked());
    const auto endpoints = r.Runtime.Endpoints();
    // A window that died without closing its socket.
    const int stale = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const auto path = endpoints / (std::string(platform::ProgramWindowPrefix) + "1");
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(stale);
    const std::string ring = r.Link.PeerRingName();
    {
        testkit::VcalcProcess second(testkit::VcalcArgs("83"));
        const auto start = Clock::now();
        EXPECT_EQ(second.Wait(), 1);
        EXPECT_LT(Clock::now() - start, 3s);
    }
    std::string error;
    auto other = platform::MessageEndpoint::Listen("Other", error, endpoints);
    ASSERT_TRUE(other) << error;
    for (uint32_t number : {0u, 1u, 1124u, 1127u, 1145u, 0xFFFFFFFFu}) {
        platform::Message m;
        m.Number = number;
        m.LParam = 0xFFFF;
        m.Atom = std::string(31, 'Z');
        EXPECT_TRUE(other->Send(platform::EmulatorWindowName, m)) << number;
    }
    // Greeting the windows again passes over the dead one.
    int hellos = 0;
    r.Link.SetDispatcher([&](const platform::Message& m) {
        if (m.Number == platform::LinkMessage::Hello) {
            ++hellos;
            r.Link.WMHello(m);
        } else if (m.Number == platform::LinkMessage::SendBuffer) {
            r.Link.WMSendBuffer(m);
        }
    });
    ASSERT_TRUE(r.Vcalc->Command("hello"));
    EXPECT_TRUE(testkit::Pump(
        r.Link, [&] { return hellos == 1; }, 3s));
    // Still the same emulator, still answering on its ring.
    EXPECT_TRUE(platform::EndpointAlive(endpoints, platform::EmulatorWindowName));
    EXPECT_EQ(r.Link.PeerRingName(), ring);
    r.Start(engine::OpCaptureScreen);
    ASSERT_TRUE(r.WaitEnded());
    EXPECT_TRUE(r.Rig.Host.LastImage());
}
