#include "ReceiveRig.h"

#include "files/ByteOrder.h"
#include "support/TempDir.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace lodestrum;
using namespace lodestrum::testkit;
using namespace std::chrono_literals;
using vcalc::Model;

namespace {

std::vector<vcalc::Packet> FromCalc(ReceiveRig& r, uint8_t command) {
    std::vector<vcalc::Packet> out;
    for (const auto& p : r.Calc().Transcript())
        if (p.FromCalculator && p.Command == command) out.push_back(p);
    return out;
}

std::vector<uint8_t> DataSection(const std::vector<uint8_t>& ti8x) {
    if (ti8x.size() < 57) return {};
    return {ti8x.begin() + 55, ti8x.end() - 2};
}

const std::string ReplaceAbc = "ask:Lodestrum:Replace ABC.82P?\nPress No to choose another name.";

} // namespace

TEST(ReceiveVariable, TI86BackupInThreeOrFourParts) {
    for (bool four : {false, true}) {
        SCOPED_TRACE(four ? "four parts" : "three parts");
        vcalc::CalcOptions options;
        options.FourPartBackup = four;
        ReceiveRig r(Model::TI86, options);
        r.Rig.Settings.TI86FourParts = four;
        r.Calc().AddVariable(Ti85Var("PRG", 30));
        r.Rig.Host.QueueSaveAnswer("Backup.86B");
        r.Start(engine::OpReceiveVariables);
        r.Calc().QueueBackup();
        ASSERT_TRUE(r.Wait());

        EXPECT_EQ(r.Boxes(), std::vector<std::string>{"save:Save backup as::Backup.86B:2"});
        const auto sent = FromCalc(r, DATA);
        ASSERT_EQ(sent.size(), four ? 4u : 3u);
        const auto file = files::ReadTi8xFile(ReadBytes(r.File("Backup.86B")), four);
        ASSERT_TRUE(file);
        ASSERT_EQ(file->Variables.size(), 1u);
        EXPECT_EQ(file->Variables[0].Header, FromCalc(r, VAR).at(0).Data);
        ASSERT_EQ(file->Variables[0].Parts.size(), sent.size());
        for (std::size_t i = 0; i < sent.size(); ++i)
            EXPECT_EQ(file->Variables[0].Parts[i], sent[i].Data);
        // ACK, CTS, then one ACK per part; a backup ends the job without an EOT.
        std::vector<uint8_t> expected = {ACK, CTS};
        expected.insert(expected.end(), sent.size(), ACK);
        EXPECT_EQ(r.PcCommands(), expected);
        EXPECT_EQ(r.Rig.Host.Count("refresh"), 1);
    }
}

TEST(ReceiveVariable, EndOfTransmissionFirstStoresNothing) {
    ReceiveRig r(Model::TI83);
    ASSERT_TRUE(r.Receive({"NOTHERE"}));
    EXPECT_EQ(r.PcCommands(), Commands({ACK}));
    EXPECT_TRUE(r.FilesHere().empty());
    EXPECT_TRUE(r.Boxes().empty());
    EXPECT_EQ(r.Rig.Host.Outcomes().back(), engine::JobOutcome::Done);
    EXPECT_EQ(r.Rig.Host.Count("refresh"), 1);
}

TEST(ReceiveVariable, SecondProgramOfTheSameNameAsksBeforeReplacing) {
    struct Case {
        const char* Name;
        bool Replace;
        std::optional<std::string> Chosen;
        std::vector<std::string> Files;
        int AbcHolds; // which program ABC.82P holds at the end
    };
    const Case cases[] = {
        {"yes overwrites", true, std::nullopt, {"ABC.82P"}, 2},
        {"no opens the dialog", false, "OTHER.82P", {"ABC.82P", "OTHER.82P"}, 1},
        {"no, then cancel", false, std::nullopt, {"ABC.82P"}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        vcalc::CalcOptions options;
        options.AnswerTimeout = 300ms; // the calculator goes on when no CTS comes
        ReceiveRig r(Model::TI82, options);
        const auto first = Ti82Var("ABC", 10, 0x05, 1), second = Ti82Var("ABC", 12, 0x05, 9);
        r.Calc().AddVariable(first);
        r.Calc().AddVariable(second);
        r.Rig.Host.QueueYesNo(c.Replace);
        if (!c.Replace) r.Rig.Host.QueueSaveAnswer(c.Chosen);
        ASSERT_TRUE(r.Receive({}));

        std::vector<std::string> boxes = {ReplaceAbc};
        if (!c.Replace) boxes.push_back("save:Save file as::ABC.82P:1");
        EXPECT_EQ(r.Boxes(), boxes);
        EXPECT_EQ(r.FilesHere(), c.Files);
        const auto abc = files::ReadTi8xFile(ReadBytes(r.File("ABC.82P")), false);
        ASSERT_TRUE(abc);
        EXPECT_EQ(abc->Variables.at(0).Parts.at(0), (c.AbcHolds == 1 ? first : second).Parts[0]);
        if (c.Chosen) {
            const auto other = files::ReadTi8xFile(ReadBytes(r.File(*c.Chosen)), false);
            ASSERT_TRUE(other);
            EXPECT_EQ(other->Variables.at(0).Parts.at(0), second.Parts[0]);
        }
        const auto statuses = r.Rig.Host.Statuses();
        EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Receiving: ABC.82P..."), statuses.end());
        EXPECT_EQ(r.Rig.Host.Outcomes().back(), engine::JobOutcome::Done);
    }
}

TEST(ReceiveVariable, ReadOnlyFileIsNotReplacedAndEndsTheJob) {
    ReceiveRig r(Model::TI82);
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    r.Work.Write("ABC.82P", old);
    ::chmod(r.File("ABC.82P").c_str(), 0444);
    r.Calc().AddVariable(Ti82Var("ABC", 10));
    r.Calc().AddVariable(Ti82Var("DEF", 10));
    ASSERT_TRUE(r.Receive({}));
    EXPECT_EQ(r.Boxes(), std::vector<std::string>{"error:Lodestrum Error:Unable to create ABC.82P"});
    EXPECT_EQ(ReadBytes(r.File("ABC.82P")), old);
    EXPECT_EQ(r.FilesHere(), std::vector<std::string>{"ABC.82P"}) << "DEF never came";
    EXPECT_EQ(r.Rig.Host.Outcomes().back(), engine::JobOutcome::Error);
}

TEST(ReceiveVariable, FailedWriteKeepsTheOldFileAndGoesOn) {
    ReceiveRig r(Model::TI82);
    const std::vector<uint8_t> old(20, 'o');
    r.Work.Write("ABC.82P", old);
    r.Calc().AddVariable(Ti82Var("ABC", 200));
    r.Calc().AddVariable(Ti82Var("DEF", 10));
    r.Rig.Host.QueueYesNo(true);
    // Files above 100 bytes cannot be written: ABC's write fails, DEF's succeeds.
    struct rlimit previous {};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    auto handler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = previous;
    small.rlim_cur = 100;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const bool ended = r.Receive({});
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, handler);
    ASSERT_TRUE(ended);
    EXPECT_EQ(r.Boxes(), (std::vector<std::string>{
                             "ask:Lodestrum:Replace ABC.82P?\nPress No to choose another name.",
                             "error:Lodestrum Error:Can't write to file."}));
    EXPECT_EQ(ReadBytes(r.File("ABC.82P")), old);
    EXPECT_EQ(r.FilesHere(), (std::vector<std::string>{"ABC.82P", "DEF.82P"})) << "no temporary left";
}

TEST(ReceiveVariable, TI89ProgramsOfTwoFoldersShareAFileName) {
    ReceiveRig r(Model::TI89);
    const auto first = Pattern(40, 1), second = Pattern(50, 2);
    r.Calc().AddVariable(vcalc::Ti89Stored("main\\x", 0x12, first));
    r.Calc().AddVariable(vcalc::Ti89Stored("x", 0x12, second));
    r.Rig.Host.QueueYesNo(true);
    ASSERT_TRUE(r.Receive({}));
    EXPECT_EQ(r.Boxes(), std::vector<std::string>{
                             "ask:Lodestrum:Replace x.89P?\nPress No to choose another name."});
    EXPECT_EQ(r.FilesHere(), std::vector<std::string>{"x.89P"});
    const auto image = ReadBytes(r.File("x.89P"));
    const auto table = files::ReadTi89Table(image);
    ASSERT_TRUE(table);
    EXPECT_EQ(table->Folder, "main");
    ASSERT_EQ(table->Entries.size(), 1u);
    EXPECT_EQ(table->Entries[0].Offset, 82u);
    EXPECT_EQ(table->Entries[0].Name, "x");
    EXPECT_EQ(image.size(), second.size() + 6 + 84);
    EXPECT_EQ(files::ReadLe32(image, 76), image.size());
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + 82, image.begin() + 86), std::vector<uint8_t>(4, 0));
    const auto contents = files::Ti89VariableContents(image, 82);
    ASSERT_TRUE(contents);
    EXPECT_EQ(std::vector<uint8_t>(contents->begin(), contents->end()), second);
    EXPECT_EQ(std::string(image.begin(), image.begin() + 8), "**TI89**");
}

TEST(ReceiveVariable, MachineIdSwitchesTheDisplayBeforeAnythingIsSaved) {
    vcalc::CalcOptions options;
    options.ReadyPackets = 2;
    ReceiveRig r(Model::TI89, options);
    r.Rig.CalcType = 3;
    r.Calc().AddVariable(vcalc::Ti89Stored("abc", 0x12, Pattern(10)));
    ASSERT_TRUE(r.Receive({}));
    const auto events = r.Rig.Host.Events();
    const auto display = std::find(events.begin(), events.end(), "calctype:8:TI89,TI92+");
    const auto naming = std::find(events.begin(), events.end(), "status:Receiving: abc.89P...");
    ASSERT_NE(display, events.end());
    ASSERT_NE(naming, events.end());
    EXPECT_LT(display, naming);
    EXPECT_EQ(r.Rig.CalcType, 8);
    EXPECT_EQ(FromCalc(r, RDY).size(), 2u);
    EXPECT_EQ(r.FilesHere(), std::vector<std::string>{"abc.89P"});
}

TEST(ReceiveVariable, StopWhileWaitingForAHeaderEndsSilently) {
    ReceiveRig r(Model::TI83);
    auto* job = r.Start(engine::OpReceiveVariables);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(r.Rig.Host.JobsEnded(), 0);
    const auto stop = std::chrono::steady_clock::now();
    r.Rig.Stop(job);
    ASSERT_TRUE(r.Wait());
    EXPECT_LT(std::chrono::steady_clock::now() - stop, 1s);
    EXPECT_TRUE(r.Boxes().empty());
    EXPECT_TRUE(r.FilesHere().empty());
    EXPECT_EQ(r.Rig.Host.Outcomes().back(), engine::JobOutcome::Stopped);
}

TEST(ReceiveVariableFaults, HostileNamesStayInTheCurrentFolder) {
    struct Case {
        Model Kind;
        std::string Name;
        std::string Expected;
        std::string Unsafe; // where the raw name would have led
    };
    const Case cases[] = {
        {Model::TI83, "../../x", ".._.._x.83P", "../../x.83P"},
        {Model::TI83, "a/b", "a_b.83P", "a/b.83P"},
        {Model::TI83, std::string("\x01\x1F", 2) + "ab", "__ab.83P", ""},
        {Model::TI86, "../x", ".._x.86P", "../x.86P"},
        {Model::TI86, "..", "...86P", ""},
        {Model::TI89, "../../../x", ".._.._...89P", "../../...89P"},
        {Model::TI89, "f\\..", "...89P", ""},
        {Model::TI89, "a/b\\c/d", "c_d.89P", "c/d.89P"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Expected);
        vcalc::CalcOptions options;
        options.NameOverride = c.Name;
        ReceiveRig r(c.Kind, options);
        if (c.Kind == Model::TI89)
            r.Calc().AddVariable(vcalc::Ti89Stored("prog", 0x12, Pattern(10)));
        else if (c.Kind == Model::TI83)
            r.Calc().AddVariable(Ti82Var("PROG", 10));
        else
            r.Calc().AddVariable(Ti85Var("PROG", 10));
        ASSERT_TRUE(r.Receive({}));
        EXPECT_EQ(r.FilesHere(), std::vector<std::string>{c.Expected});
        if (!c.Unsafe.empty()) {
            EXPECT_FALSE(std::filesystem::exists(r.File(c.Unsafe)));
        }
    }
}

TEST(ReceiveVariableFaults, AnnouncedSizesDoNotDecideWhatIsKept) {
    struct Case {
        const char* Name;
        Model Kind;
        std::function<uint32_t(uint32_t)> Announce;
        bool WrongChecksums;
    };
    const Case cases[] = {
        {"TI-83 smaller", Model::TI83, [](uint32_t s) { return s / 4; }, false},
        {"TI-83 larger", Model::TI83, [](uint32_t s) { return s * 3 + 100; }, false},
        {"TI-83 zero, wrong checksums", Model::TI83, [](uint32_t) { return 0u; }, true},
        {"TI-89 smaller", Model::TI89, [](uint32_t s) { return s / 4; }, false},
        {"TI-89 absurd", Model::TI89, [](uint32_t) { return 0xFFFFFFFFu; }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        vcalc::CalcOptions options;
        options.AnnounceSize = c.Announce;
        options.WrongChecksums = c.WrongChecksums;
        ReceiveRig r(c.Kind, options);
        const auto data = Pattern(400, 5);
        if (c.Kind == Model::TI89)
            r.Calc().AddVariable(vcalc::Ti89Stored("big", 0x12, data));
        else
            r.Calc().AddVariable(Ti82Var("BIG", data.size()));
        ASSERT_TRUE(r.Receive({}));
        EXPECT_TRUE(r.Boxes().empty());
        if (c.Kind == Model::TI89) {
            const auto image = ReadBytes(r.File("big.89P"));
            const auto contents = files::Ti89VariableContents(image, 82);
            ASSERT_TRUE(contents);
            EXPECT_EQ(std::vector<uint8_t>(contents->begin(), contents->end()), data);
        } else {
            const auto file = files::ReadTi8xFile(ReadBytes(r.File("BIG.83P")), false);
            ASSERT_TRUE(file);
            EXPECT_EQ(file->Variables.at(0).Parts.at(0), Pattern(400, 1));
            EXPECT_EQ(file->Variables.at(0).Header, FromCalc(r, VAR).at(0).Data) << "stored as sent";
        }
    }
}

namespace {

// How an example file goes to the calculator and comes back: as the model it
// names, and as a group when it holds a group. nullopt for files the
// calculator never sends back (FLASH applications, operating systems).
struct RoundTrip {
    Model Kind;
    bool Group;
};

std::optional<RoundTrip> RoundTripOf(const std::vector<uint8_t>& image) {
    const std::string saved(files::Ti8xCommentText(files::Ti8xComment::Saved));
    auto file = files::ReadTi8xFile(image, false);
    if (!file) file = files::ReadTi8xFile(image, true); // a four-part TI-86 backup
    if (file) {
        static const std::pair<uint8_t, Model> models[] = {
            {2, Model::TI82}, {3, Model::TI83}, {5, Model::TI85}, {6, Model::TI86}};
        for (const auto& [calcType, model] : models) {
            if (calcType != file->CalcType) continue;
            const bool group =
                file->Variables.size() > 1 ||
                std::equal(saved.begin(), saved.end(), image.begin() + files::Ti8xCommentOffset);
            return RoundTrip{model, group};
        }
        return std::nullopt;
    }
    const auto family = files::Ti89CalcTypeFromSignature(image);
    const auto table = files::ReadTi89Table(image);
    if (!family || !table) return std::nullopt;
    const Model model = *family == 9      ? Model::TI92
                        : image[6] == 'P' ? Model::TI92Plus
                                          : Model::TI89;
    const bool group = image[files::Ti89CommentOffset] != 0;
    return RoundTrip{model, group};
}

} // namespace

TEST(ReceiveRoundTrip, EveryExampleComesBackWithItsData) {
    int tried = 0;
    for (const auto& item : std::filesystem::directory_iterator(LODESTRUM_EXAMPLES)) {
        const std::string name = item.path().filename().string();
        const auto original = ReadBytes(item.path());
        const auto trip = RoundTripOf(original);
        if (!trip) continue;
        SCOPED_TRACE(name);
        ++tried;
        ReceiveRig r(trip->Kind);
        const bool four = trip->Kind == Model::TI86 && !files::ReadTi8xFile(original, false) &&
                          files::ReadTi8xFile(original, true);
        r.Rig.Settings.TI86FourParts = four;
        r.Rig.Settings.TI89SaveAs92Plus = trip->Kind == Model::TI92Plus;
        const auto sent = r.Work.Write("sent", original);
        r.Start(engine::OpSendSingle, sent.string());
        ASSERT_TRUE(r.Wait());
        ASSERT_FALSE(r.Calc().Memory().empty()) << "the calculator took nothing";
        std::filesystem::remove(sent);

        const std::string back = trip->Group ? "back" : "";
        r.Rig.Host.QueueSaveAnswer("backup.file");
        ASSERT_TRUE(
            r.Receive({}, trip->Group ? engine::OpReceiveGroup : engine::OpReceiveVariables, back));
        const auto files = r.FilesHere();
        ASSERT_EQ(files.size(), 1u);
        const auto received = ReadBytes(r.File(files[0]));
        if (vcalc::ModelCalcType(trip->Kind) >= 8) {
            const auto a = files::ReadTi89Table(original), b = files::ReadTi89Table(received);
            ASSERT_TRUE(a && b);
            ASSERT_EQ(a->Entries.size(), b->Entries.size());
            for (std::size_t i = 0; i < a->Entries.size(); ++i) {
                EXPECT_EQ(a->Entries[i].Name, b->Entries[i].Name);
                EXPECT_EQ(a->Entries[i].TypeId, b->Entries[i].TypeId);
                if (a->Entries[i].TypeId == files::Ti89FolderTypeId) continue;
                const auto x = files::Ti89VariableContents(original, a->Entries[i].Offset);
                const auto y = files::Ti89VariableContents(received, b->Entries[i].Offset);
                ASSERT_TRUE(x && y);
                EXPECT_TRUE(std::equal(x->begin(), x->end(), y->begin(), y->end()));
            }
        } else {
            EXPECT_EQ(DataSection(received), DataSection(original));
        }
    }
    EXPECT_GT(tried, 0) << "no example was found";
}
