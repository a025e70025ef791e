#include "files/Ti8xFile.h"
#include "support/SendRig.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

using namespace lodestrum;
using namespace std::chrono_literals;
using testkit::ReadBytes;
using vcalc::Model;
using vcalc::Packet;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
    std::vector<uint8_t> out;
    for (int b : list) out.push_back(static_cast<uint8_t>(b));
    return out;
}

// A TI-83 program header: size, type 0x05, 8-byte name.
std::vector<uint8_t> Ti83Header(const std::string& name, uint16_t size, uint8_t type = 0x05) {
    std::vector<uint8_t> h = {static_cast<uint8_t>(size & 0xFF), static_cast<uint8_t>(size >> 8),
                              type};
    for (std::size_t i = 0; i < 8; ++i) h.push_back(i < name.size() ? name[i] : 0);
    return h;
}

std::vector<uint8_t> Ti85Header(const std::string& name, uint16_t size, uint8_t type = 0x12) {
    std::vector<uint8_t> h = {static_cast<uint8_t>(size & 0xFF), static_cast<uint8_t>(size >> 8),
                              type, static_cast<uint8_t>(name.size())};
    for (char c : name) h.push_back(static_cast<uint8_t>(c));
    return h;
}

std::vector<uint8_t> Data(std::size_t size, uint8_t seed = 1) {
    std::vector<uint8_t> d(size);
    for (std::size_t i = 0; i < size; ++i) d[i] = static_cast<uint8_t>(seed + i * 7);
    return d;
}

files::Ti8xVariable Variable(std::vector<uint8_t> header, std::vector<std::vector<uint8_t>> parts) {
    return {std::move(header), std::move(parts)};
}

using testkit::SendRig;

constexpr uint8_t VAR = 0x06, CTS = 0x09, DATA = 0x15, SKIP = 0x36, ACK = 0x56, EOT = 0x92;

} // namespace

TEST(SendTi8x, SingleProgramWithItsOwnEndOfTransmission) {
    SendRig s(Model::TI83);
    const auto program = Data(24);
    const auto image = files::BuildTi8xFile(
        3, files::Ti8xComment::Transferred, {Variable(Ti83Header("ABC", 24), {program})});
    const auto path = s.Work.Write("ABC.83P", image);
    s.Rig.CalcType = 5; // the signature decides, not the window
    ASSERT_TRUE(s.Send(path));

    EXPECT_EQ(s.Commands(), Bytes({VAR, ACK, CTS, ACK, DATA, ACK, EOT, ACK}));
    const auto pc = s.FromPc();
    ASSERT_EQ(pc.size(), 4u);
    // The VAR's length field is the file's bytes 55 and 56, its data the header after them.
    EXPECT_EQ(pc[0].Length, image[55] | (image[56] << 8));
    EXPECT_EQ(pc[0].Data, std::vector<uint8_t>(image.begin() + 57, image.begin() + 57 + 11));
    EXPECT_EQ(pc[2].Data, program);
    EXPECT_EQ(pc[3].MachineId, 0x03);
    EXPECT_EQ(pc[3].Length, 0);
    for (const auto& p : pc) EXPECT_EQ(p.MachineId, 0x03);

    // What the calculator stored is the file it was sent.
    EXPECT_EQ(ReadBytes(s.Memory.Path() / "ABC.83P"), image);
    EXPECT_EQ(s.Rig.CalcType, 3);
    const auto statuses = s.Rig.Host.Statuses();
    ASSERT_GE(statuses.size(), 2u);
    EXPECT_EQ(statuses[0], "Sending: ABC.83P...");
    EXPECT_EQ(statuses[1], "Sending: ABC.83P : ABC...");
    const auto progress = s.Rig.Host.ProgressValues();
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 0);
    EXPECT_EQ(s.Rig.Host.Outcomes().back(), engine::JobOutcome::Done);
}

TEST(SendTi8x, OneFileOfASeriesSendsNoEndOfTransmission) {
    SendRig s(Model::TI83);
    const auto path = s.Work.Write(
        "ABC.83P", files::BuildTi8xFile(3, files::Ti8xComment::Transferred,
                                        {Variable(Ti83Header("ABC", 5), {Data(5)})}));
    ASSERT_TRUE(s.Send(path, engine::OpSendSeries));
    EXPECT_EQ(s.Commands(), Bytes({VAR, ACK, CTS, ACK, DATA, ACK}));
    EXPECT_EQ(s.Driver->Calculator().EotCount(), 0);
}

TEST(SendTi8x, TheFileNotTheWindowChoosesTheMachineId) {
    SendRig s(Model::TI85);
    s.Rig.CalcType = 3;
    const auto path = s.Work.Write(
        "ABC.85P", files::BuildTi8xFile(5, files::Ti8xComment::Transferred,
                                        {Variable(Ti85Header("ABC", 10), {Data(10)})}));
    ASSERT_TRUE(s.Send(path));
    const auto pc = s.FromPc();
    ASSERT_EQ(pc.size(), 4u);
    for (const auto& p : pc) EXPECT_EQ(p.MachineId, 0x05);
    EXPECT_EQ(s.Rig.CalcType, 5);
    EXPECT_TRUE(std::filesystem::exists(s.Memory.Path() / "ABC.85P"));
    // A TI-85 name shows as many characters as its length byte says.
    EXPECT_EQ(s.Rig.Host.Statuses().at(1), "Sending: ABC.85P : ABC...");
}

TEST(SendTi8x, TI86BackupGoesAsOneVarAndThreeOrFourParts) {
    for (bool fourParts : {false, true}) {
        SCOPED_TRACE(fourParts ? "four parts" : "three parts");
        SendRig s(Model::TI86);
        s.Rig.Settings.TI86FourParts = fourParts;
        std::vector<std::vector<uint8_t>> parts = {Data(40, 1), Data(30, 2), Data(20, 3)};
        if (fourParts) parts.push_back(Data(10, 4));
        std::vector<uint8_t> header = {40, 0, 0x1D, 30, 0, 20, 0, 0, 0};
        const auto path = s.Work.Write(
            "Backup.86B", files::BuildTi8xFile(6, files::Ti8xComment::Transferred,
                                               {Variable(header, parts)}));
        ASSERT_TRUE(s.Send(path));
        std::vector<uint8_t> expected = {VAR, ACK, CTS, ACK};
        for (std::size_t i = 0; i < parts.size(); ++i) {
            expected.push_back(DATA);
            expected.push_back(ACK);
        }
        EXPECT_EQ(s.Commands(), expected) << "no EOT after a backup";
        const auto memory = s.Driver->Calculator().Memory();
        ASSERT_EQ(memory.size(), 1u);
        EXPECT_EQ(memory[0].Parts, parts);
        // Progress runs up for every part and is cleared at the end.
        const auto progress = s.Rig.Host.ProgressValues();
        int climbs = 0;
        for (std::size_t i = 0; i < progress.size(); ++i)
            if (progress[i] == 100) ++climbs;
        EXPECT_EQ(climbs, static_cast<int>(parts.size()));
        EXPECT_EQ(progress.back(), 0);
        // No status line names a variable during a backup.
        for (const auto& status : s.Rig.Host.Statuses())
            EXPECT_EQ(status.find(" : "), std::string::npos) << status;
    }
}

TEST(SendTi8x, ARefusedVariableEndsTheGroupThere) {
    struct Case {
        int Code;
        std::vector<uint8_t> Commands;
    };
    // Code 2 is acknowledged, code 1 is not; the third variable never goes.
    const Case cases[] = {
        {2, Bytes({VAR, ACK, CTS, ACK, DATA, ACK, VAR, ACK, SKIP, ACK})},
        {1, Bytes({VAR, ACK, CTS, ACK, DATA, ACK, VAR, ACK, SKIP})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Code);
        vcalc::CalcOptions options;
        options.Refuse = [code = c.Code](int index) { return index == 1 ? code : 0; };
        SendRig s(Model::TI86, options);
        const auto path = s.Work.Write(
            "THREE.86G",
            files::BuildTi8xFile(6, files::Ti8xComment::Saved,
                                 {Variable(Ti85Header("A", 3), {Data(3)}),
                                  Variable(Ti85Header("B", 4), {Data(4)}),
                                  Variable(Ti85Header("C", 5), {Data(5)})}));
        ASSERT_TRUE(s.Send(path));
        std::this_thread::sleep_for(100ms); // anything late would show now
        EXPECT_EQ(s.Commands(), c.Commands);
        EXPECT_EQ(s.Rig.Host.Outcomes().back(), engine::JobOutcome::Refused);
        EXPECT_EQ(s.Driver->Calculator().Memory().size(), 1u);
    }
}

TEST(SendTi8x, GroupOfThreeArrivesWithPausesBetweenEntries) {
    SendRig s(Model::TI86);
    const std::vector<files::Ti8xVariable> vars = {Variable(Ti85Header("A", 3), {Data(3)}),
                                                  Variable(Ti85Header("BB", 4), {Data(4)}),
                                                  Variable(Ti85Header("CCC", 300), {Data(300)})};
    const auto path = s.Work.Write("THREE.86G",
                                   files::BuildTi8xFile(6, files::Ti8xComment::Saved, vars));
    ASSERT_TRUE(s.Send(path));
    const auto memory = s.Driver->Calculator().Memory();
    ASSERT_EQ(memory.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(memory[i].Header, vars[i].Header);
        EXPECT_EQ(memory[i].Parts, vars[i].Parts);
    }
    EXPECT_EQ(s.Driver->Calculator().EotCount(), 1);
    // A 300-byte part shows each percentage once at most: at most 101 calls.
    EXPECT_LE(s.Rig.Host.Count("progress"), 3 * 101 + 2);
}

TEST(SendTi8x, CorpusFilesRoundTripThroughTheCalculator) {
    const char* corpus = std::getenv("LODESTRUM_CORPUS");
    if (!corpus || !std::filesystem::is_directory(corpus)) GTEST_SKIP() << "LODESTRUM_CORPUS not set";
    struct Case {
        const char* File;
        Model Kind;
    };
    const Case cases[] = {{"ti83/romdump.83p", Model::TI83},
                          {"ti85/AA.85N", Model::TI85},
                          {"ti86/prgm.86p", Model::TI86},
                          {"ti83p/Program.8xp", Model::TI83},
                          {"ti82/math.82p", Model::TI82}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.File);
        const auto path = std::filesystem::path(corpus) / c.File;
        if (!std::filesystem::exists(path)) continue;
        SendRig s(c.Kind);
        ASSERT_TRUE(s.Send(path));
        const auto original = ReadBytes(path);
        const auto sent = files::ReadTi8xFile(original, false);
        ASSERT_TRUE(sent);
        const auto memory = s.Driver->Calculator().Memory();
        ASSERT_EQ(memory.size(), sent->Variables.size());
        for (std::size_t i = 0; i < memory.size(); ++i) {
            EXPECT_EQ(memory[i].Header, sent->Variables[i].Header);
            EXPECT_EQ(memory[i].Parts, sent->Variables[i].Parts);
        }
        // The file the calculator wrote from its memory holds the same data section.
        const auto written = ReadBytes(s.Memory.Path() / memory[0].FileName);
        const auto back = files::ReadTi8xFile(written, false);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->Variables.front().Parts, sent->Variables.front().Parts);
    }
}

TEST(SendTi8xBadInput, EachBadFileGetsItsMessageAndSendsNothingWrong) {
    struct Case {
        const char* Name;
        std::vector<uint8_t> Image;
        bool Directory;
        std::vector<bool> Answers;
        std::vector<std::string> Boxes;
        std::vector<uint8_t> Commands;
    };
    const auto good = files::BuildTi8xFile(3, files::Ti8xComment::Transferred,
                                           {Variable(Ti83Header("ABC", 6), {Data(6)})});
    auto headerPastEnd = good;
    headerPastEnd[55] = 0xF0; // header length runs past the file
    auto partPastEnd = good;
    partPastEnd[55 + 2 + 11] = 0xFF; // part length runs past the file
    auto wrongSignature = good;
    wrongSignature[0] = 'X';
    const std::string damaged =
        "error:Lodestrum Error:This file is damaged: a variable runs past the end of the file. "
        "Nothing of it was sent.";
    const std::string badFile = "ask:Bad File:This file is not a TI-8x file!\nContinue?";
    const Case cases[] = {
        {"short.83p", std::vector<uint8_t>(good.begin(), good.begin() + 40), false, {}, {},
         Bytes({EOT, ACK})},
        {"empty.83p", {}, false, {}, {badFile}, {}},
        {"header.83p", headerPastEnd, false, {}, {damaged}, {}},
        {"part.83p", partPastEnd, false, {}, {damaged}, {}},
        {"signatureNo.83p", wrongSignature, false, {false}, {badFile}, {}},
        {"signatureYes.83p", wrongSignature, false, {true}, {badFile},
         Bytes({VAR, ACK, CTS, ACK, DATA, ACK, EOT, ACK})},
        {"folder.83p", {}, true, {}, {"error:Lodestrum Error:Unable to open file"}, {}},
        {"missing.83p", {}, false, {}, {"error:Lodestrum Error:Unable to open file"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        SendRig s(Model::TI83);
        std::filesystem::path path = s.Work.Path() / c.Name;
        if (c.Directory)
            std::filesystem::create_directory(path);
        else if (std::string(c.Name) != "missing.83p")
            s.Work.Write(c.Name, c.Image);
        for (bool a : c.Answers) s.Rig.Host.QueueYesNo(a);
        ASSERT_TRUE(s.Send(path));
        std::vector<std::string> boxes;
        for (const auto& e : s.Rig.Host.Events())
            if (e.rfind("error:", 0) == 0 || e.rfind("ask:", 0) == 0) boxes.push_back(e);
        EXPECT_EQ(boxes, c.Boxes);
        EXPECT_EQ(s.Commands(), c.Commands);
    }
}

TEST(SendTi8xBadInput, ASilentCalculatorKeepsTheJobWaitingUntilStop) {
    vcalc::CalcOptions options;
    options.Silent = true;
    SendRig s(Model::TI83, options);
    const auto path = s.Work.Write(
        "ABC.83P", files::BuildTi8xFile(3, files::Ti8xComment::Transferred,
                                        {Variable(Ti83Header("ABC", 6), {Data(6)})}));
    auto* job = s.Rig.Start(engine::OpSendSingle, path.string());
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(s.Rig.Host.JobsEnded(), 0);
    const auto stop = std::chrono::steady_clock::now();
    s.Rig.Stop(job);
    ASSERT_TRUE(s.Rig.WaitEnded(1, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - stop, 1s);
    EXPECT_EQ(s.Driver->Wire().PcDriven(), 3);
    EXPECT_EQ(s.Rig.Host.Outcomes().back(), engine::JobOutcome::Stopped);
}
