#include "SendTi89Support.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace lodestrum;
using namespace std::chrono_literals;
using testkit::SendRig;
using vcalc::Model;
using namespace testkit::e2e;


TEST(SendTi89, VariableHeaderAndDataAsTheCalculatorExpectsThem) {
    SendRig s(Model::TI89);
    const auto path = s.Work.Write("x.89P", files::BuildTi89SingleFile(8, false, Var("main\\x", 0x0102)));
    s.Rig.CalcType = 3;
    ASSERT_TRUE(s.Send(path));
    EXPECT_EQ(s.Rig.CalcType, 8);
    const auto pc = s.FromPc();
    ASSERT_GE(pc.size(), 4u);
    const auto& var = pc[0];
    EXPECT_EQ(var.Command, VAR);
    EXPECT_EQ(var.Length, 13);
    const std::vector<uint8_t> expected = {0x04, 0x01, 0x00, 0x00, 0x12, 6, 'm', 'a', 'i', 'n',
                                           '\\', 'x', 0x00};
    EXPECT_EQ(var.Data, expected);
    const auto& data = pc[2];
    EXPECT_EQ(data.Command, DATA);
    EXPECT_EQ(data.Length, 0x0108);
    // The four bytes the file holds before S are never sent.
    EXPECT_EQ(std::vector<uint8_t>(data.Data.begin(), data.Data.begin() + 6),
              (std::vector<uint8_t>{0, 0, 0, 0, 0x01, 0x02}));
    for (const auto& p : pc) EXPECT_EQ(p.MachineId, 0x08);
    // Home-screen mode: every variable closes its own transmission.
    EXPECT_EQ(s.Commands(), (std::vector<uint8_t>{VAR, ACK, CTS, ACK, DATA, ACK, EOT, ACK}));
    ASSERT_TRUE(std::filesystem::exists(s.Memory.Path() / "x.89P"));
    const auto progress = s.Rig.Host.ProgressValues();
    ASSERT_GE(progress.size(), 2u);
    EXPECT_LT(progress[progress.size() - 2], 100); // taken of S + 10
    EXPECT_EQ(progress.back(), 0);
}

TEST(SendTi89, FolderOptionsChooseTheNameSent) {
    struct Case {
        const char* Name;
        bool NoFolder, ToFolder;
        std::string Default;
        std::vector<std::string> Names;
    };
    const Case cases[] = {
        {"file's folders", false, false, "", {"main\\a", "main\\b", "prog\\c"}},
        {"no folder names", true, false, "", {"a", "b", "c"}},
        {"no folder wins", true, true, "prog", {"a", "b", "c"}},
        {"all to a folder", false, true, "prog", {"prog\\a", "prog\\b", "prog\\c"}},
        {"empty default", false, true, "", {"\\a", "\\b", "\\c"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        SendRig s(Model::TI89);
        s.Rig.Settings.TI89NoFolderName = c.NoFolder;
        s.Rig.Settings.TI89SendToFolder = c.ToFolder;
        s.Rig.Settings.DefaultFolder = c.Default;
        s.Rig.Settings.TI89VarLinkOnly = true;
        const auto path = s.Work.Write(
            "GROUP.89G",
            files::BuildTi89GroupFile(8, false, {Var("a", 2), Var("b", 3), Var("prog\\c", 4)}));
        ASSERT_TRUE(s.Send(path));
        EXPECT_EQ(NamesSent(s), c.Names);
        // Var-Link mode with a single send: one EOT after the last variable.
        EXPECT_EQ(CountFromPc(s, EOT), 1);
    }
}

TEST(SendTi89, EightAndEightGiveASeventeenCharacterName) {
    SendRig s(Model::TI89);
    const auto path = s.Work.Write(
        "f.89P", files::BuildTi89SingleFile(8, false, Var("abcdefgh\\ijklmnop", 1)));
    ASSERT_TRUE(s.Send(path));
    const auto pc = s.FromPc();
    ASSERT_FALSE(pc.empty());
    EXPECT_EQ(pc[0].Length, 24);
    EXPECT_EQ(NamesSent(s), (std::vector<std::string>{"abcdefgh\\ijklmnop"}));
}

TEST(SendTi89, ClosingRuleFollowsTheVarLinkOptionAndTheJobCode) {
    struct Case {
        bool VarLinkOnly;
        uint8_t Op;
        int Eots;
    };
    const Case cases[] = {{false, engine::OpSendSingle, 3},
                          {false, engine::OpSendSeries, 3},
                          {true, engine::OpSendSingle, 1},
                          {true, engine::OpSendSeries, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.VarLinkOnly) + "/" + std::to_string(c.Op));
        SendRig s(Model::TI92Plus);
        s.Rig.Settings.TI89VarLinkOnly = c.VarLinkOnly;
        const auto path = s.Work.Write(
            "G.89G", files::BuildTi89GroupFile(8, true, {Var("a", 2), Var("b", 2), Var("c", 2)}));
        ASSERT_TRUE(s.Send(path, c.Op));
        EXPECT_EQ(CountFromPc(s, EOT), c.Eots);
        EXPECT_EQ(s.Calculator().Memory().size(), 3u);
    }
}

TEST(SendTi89, AnEmptyTableStillClosesAVarLinkSingleSend) {
    SendRig s(Model::TI89);
    s.Rig.Settings.TI89VarLinkOnly = true;
    const auto path = s.Work.Write("E.89G", files::BuildTi89GroupFile(8, false, {}));
    ASSERT_TRUE(s.Send(path));
    EXPECT_EQ(s.Commands(), (std::vector<uint8_t>{EOT, ACK}));
}

TEST(SendTi89, ARefusalEndsTheFileWithoutAnEndOfTransmission) {
    vcalc::CalcOptions options;
    options.Refuse = [](int index) { return index == 1 ? 2 : 0; };
    SendRig s(Model::TI89, options);
    s.Rig.Settings.TI89VarLinkOnly = true;
    const auto path = s.Work.Write(
        "G.89G", files::BuildTi89GroupFile(8, false, {Var("a", 2), Var("b", 2), Var("c", 2)}));
    ASSERT_TRUE(s.Send(path));
    EXPECT_EQ(s.Commands(),
              (std::vector<uint8_t>{VAR, ACK, CTS, ACK, DATA, ACK, VAR, ACK, SKIP, ACK}));
}

TEST(SendTi89, ADamagedEntrySendsNothingOfItself) {
    SendRig s(Model::TI89);
    auto image = files::BuildTi89GroupFile(8, false, {Var("a", 2), Var("b", 2)});
    // The second variable's offset points past the end of the file.
    const std::size_t entry = files::Ti89TableOffset + 2 * files::Ti89EntrySize;
    image[entry] = 0xFF;
    image[entry + 1] = 0xFF;
    const auto path = s.Work.Write("G.89G", image);
    ASSERT_TRUE(s.Send(path));
    EXPECT_EQ(NamesSent(s), (std::vector<std::string>{"main\\a"}));
    EXPECT_EQ(s.Rig.Host.Count("error:Lodestrum Error:This file is damaged"), 1);
}

TEST(SendTi89, CorpusGroupsGoVariableByVariable) {
    const char* corpus = std::getenv("LODESTRUM_CORPUS");
    if (!corpus || !std::filesystem::is_directory(corpus)) GTEST_SKIP() << "LODESTRUM_CORPUS not set";
    const auto path = std::filesystem::path(corpus) / "ti92/group.92g";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no ti92/group.92g";
    SendRig s(Model::TI92);
    s.Rig.Settings.TI89VarLinkOnly = true;
    ASSERT_TRUE(s.Send(path));
    const auto image = testkit::ReadBytes(path);
    const auto table = files::ReadTi89Table(image);
    ASSERT_TRUE(table);
    std::size_t variables = 0;
    for (const auto& e : table->Entries) variables += e.TypeId != files::Ti89FolderTypeId;
    EXPECT_EQ(s.Calculator().Memory().size(), variables);
    EXPECT_EQ(s.Rig.CalcType, 9);
}


TEST(SendFlash, QuestionsComeFirstAndTheHeaderSetsTheModel) {
    SendRig s(Model::TI89);
    s.Rig.CalcType = 3;
    s.Rig.Host.QueueYesNo(true); // "Bad selected calculator"
    s.Rig.Host.QueueYesNo(true); // "FLASH Info"
    // A licence block first: stepped over, and its AMS data type marks what follows.
    auto image = FlashBlock("License", 0x98, 0x23, Contents(10));
    const auto ams = FlashBlock("Advanced", 0x98, 0x24, Contents(20));
    image.insert(image.end(), ams.begin(), ams.end());
    const auto path = s.Work.Write("os.89u", image);
    ASSERT_TRUE(s.Send(path));
    std::vector<std::string> asked;
    for (const auto& e : s.Rig.Host.Events())
        if (e.rfind("ask:", 0) == 0) asked.push_back(e);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0],
              "ask:Bad selected calculator:FLASH applications have only been tested on "
              "TI89/TI92+\nContinue?");
    EXPECT_EQ(asked[1], "ask:FLASH Info:Send AMS 'Advanced' dated 12/05/2001?\nSize = 20\nCheck "
                        "if calc type is correct (Main screen botton-left).\nContinue?");
    const auto pc = s.FromPc();
    ASSERT_FALSE(pc.empty());
    for (const auto& p : pc) EXPECT_EQ(p.MachineId, 0x08);
    EXPECT_EQ(pc[0].Length, 6);
    EXPECT_EQ((std::vector<uint8_t>(pc[0].Data.begin() + 4, pc[0].Data.end())),
              (std::vector<uint8_t>{0x23, 0x00}));
}

TEST(SendFlash, DecliningOrABrokenChainSendsNothing) {
    struct Case {
        const char* Name;
        std::vector<bool> Answers;
        bool BrokenChain;
        int Asks;
    };
    const Case cases[] = {
        {"declined confirmation", {false}, false, 1},
        {"licence not followed by a FLASH block, No", {false}, true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        SendRig s(Model::TI89);
        s.Rig.CalcType = 8;
        for (bool a : c.Answers) s.Rig.Host.QueueYesNo(a);
        auto image = FlashBlock(c.BrokenChain ? "License" : "abc", 0x98, 0x24, Contents(10));
        if (c.BrokenChain) image.insert(image.end(), 100, 0x55);
        const auto path = s.Work.Write("x.89k", image);
        ASSERT_TRUE(s.Send(path));
        EXPECT_EQ(s.Rig.Host.Count("ask:"), c.Asks);
        EXPECT_TRUE(s.FromPc().empty());
    }
}

TEST(SendFlash, TibFilesAreAnnouncedAsAmsWithTheFileSize) {
    SendRig s(Model::TI89);
    s.Rig.CalcType = 8;
    s.Rig.Host.QueueYesNo(true);
    const auto path = s.Work.Write("ams.TIB", Contents(1000, 1));
    ASSERT_TRUE(s.Send(path));
    EXPECT_EQ(s.Rig.Host.Count("ask:AMS Info:Send the AMS update in ams.TIB ?\nSize = 1000\nFLASH "
                               "Applications cannot be sent as .tib files!"),
              1);
    const auto pc = s.FromPc();
    ASSERT_FALSE(pc.empty());
    EXPECT_EQ(pc[0].Data, (std::vector<uint8_t>{0xE8, 0x03, 0, 0, 0x23, 0x00}));
    ASSERT_EQ(s.Calculator().Memory().size(), 1u);
    EXPECT_EQ(s.Calculator().Memory()[0].Parts.at(0), Contents(1000, 1));
}

TEST(SendFlash, SkipOneBeforeABlockStillSendsIt) {
    vcalc::CalcOptions options;
    options.SkipCode = 1;
    SendRig s(Model::TI89, options);
    s.Rig.CalcType = 8;
    s.Rig.Host.QueueYesNo(true);
    const auto path = s.Work.Write("app.89k", FlashBlock("abc", 0x98, 0x24, Contents(30)));
    ASSERT_TRUE(s.Send(path));
    EXPECT_EQ(CountFromPc(s, DATA), 1);
    EXPECT_EQ(s.FromPc().back().Command, EOT);
}

TEST(SendFlash, AHeaderOrDataPastTheEndIsDamaged) {
    for (std::size_t cut : {std::size_t{40}, std::size_t{78 + 5}}) {
        SCOPED_TRACE(cut);
        SendRig s(Model::TI89);
        s.Rig.CalcType = 8;
        auto image = FlashBlock("abc", 0x98, 0x24, Contents(30));
        image.resize(cut);
        const auto path = s.Work.Write("app.89k", image);
        ASSERT_TRUE(s.Send(path));
        EXPECT_EQ(s.Rig.Host.Count("error:Lodestrum Error:This file is damaged"), 1);
        EXPECT_TRUE(s.FromPc().empty());
    }
}
