#include "ReceiveRig.h"

using namespace lodestrum;
using namespace lodestrum::testkit;
using namespace std::chrono_literals;
using vcalc::Model;

TEST(ReceiveGroup, NameGetsTheModelsExtensionWhenItHasNone) {
    struct Case {
        Model Kind;
        std::string Given;
        std::string Written;
    };
    const Case cases[] = {
        {Model::TI86, "name", "name.86G"},
        {Model::TI86, "name.grp", "name.grp"},
        {Model::TI83, "two", "two.83G"},
        {Model::TI92, "set", "set.92G"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Written);
        ReceiveRig r(c.Kind);
        if (c.Kind == Model::TI92) {
            r.Calc().AddVariable(vcalc::Ti89Stored("a", 0x00, Pattern(5)));
        } else {
            r.Calc().AddVariable(c.Kind == Model::TI83 ? Ti82Var("A", 5) : Ti85Var("A", 5));
            r.Calc().AddVariable(c.Kind == Model::TI83 ? Ti82Var("B", 7) : Ti85Var("B", 7));
        }
        ASSERT_TRUE(r.Receive({}, engine::OpReceiveGroup, c.Given));
        EXPECT_EQ(r.FilesHere(), std::vector<std::string>{c.Written});
        EXPECT_TRUE(r.Boxes().empty());
        const auto statuses = r.Rig.Host.Statuses();
        EXPECT_EQ(statuses.at(0), "Receiving...");
        EXPECT_EQ(r.Rig.Host.ProgressValues().back(), 0);
    }
}

TEST(ReceiveGroup, GroupOfOneIsTheSingleFileWithTheGroupComment) {
    ReceiveRig r(Model::TI83);
    const auto var = Ti82Var("ABC", 300);
    r.Calc().AddVariable(var);
    ASSERT_TRUE(r.Receive({}, engine::OpReceiveGroup, "one"));
    EXPECT_EQ(ReadBytes(r.File("one.83G")),
              files::BuildTi8xFile(3, files::Ti8xComment::Saved, {{var.Header, var.Parts}}));
    // CTS, then per variable the ACK of its data, then the ACK of the EOT.
    EXPECT_EQ(r.PcCommands(), Commands({ACK, CTS, ACK, ACK}));
}

TEST(ReceiveGroup, TI89FoldersBecomeFolderEntries) {
    vcalc::CalcOptions options;
    options.ReadyPackets = 1;
    ReceiveRig r(Model::TI89, options);
    r.Calc().AddVariable(vcalc::Ti89Stored("a", 0x00, Pattern(3, 1)));
    r.Calc().AddVariable(vcalc::Ti89Stored("b", 0x12, Pattern(4, 2)));
    r.Calc().AddVariable(vcalc::Ti89Stored("prog\\c", 0x12, Pattern(5, 3)));
    ASSERT_TRUE(r.Receive({}, engine::OpReceiveGroup, "grp"));
    const auto image = ReadBytes(r.File("grp.89G"));
    const auto table = files::ReadTi89Table(image);
    ASSERT_TRUE(table);
    ASSERT_EQ(table->Entries.size(), 5u);
    const std::pair<const char*, uint8_t> expected[] = {
        {"main", 0x1F}, {"a", 0x00}, {"b", 0x12}, {"prog", 0x1F}, {"c", 0x12}};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(table->Entries[i].Name, expected[i].first);
        EXPECT_EQ(table->Entries[i].TypeId, expected[i].second);
    }
    const auto c = files::Ti89VariableContents(image, table->Entries[4].Offset);
    ASSERT_TRUE(c);
    EXPECT_EQ(std::vector<uint8_t>(c->begin(), c->end()), Pattern(5, 3));
    // Three blocks of 6 + S bytes and a checksum each.
    EXPECT_EQ(image.size(), 66 + 16 * 5 + (9 + 2) + (10 + 2) + (11 + 2));
    const auto statuses = r.Rig.Host.Statuses();
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Receiving: grp.89G: prog\\c..."),
              statuses.end());
}

TEST(ReceiveGroup, TI92PlusOptionChangesOnlyTheSignature) {
    ReceiveRig r(Model::TI92Plus);
    r.Rig.Settings.TI89SaveAs92Plus = true;
    r.Calc().AddVariable(vcalc::Ti89Stored("a", 0x00, Pattern(3)));
    ASSERT_TRUE(r.Receive({}, engine::OpReceiveGroup, "plus"));
    EXPECT_EQ(r.FilesHere(), std::vector<std::string>{"plus.89G"});
    const auto image = ReadBytes(r.File("plus.89G"));
    EXPECT_EQ(std::string(image.begin(), image.begin() + 8), "**TI92P*");
}

TEST(ReceiveGroup, StopBeforeTheEndLeavesNoFile) {
    ReceiveRig r(Model::TI86);
    const std::vector<uint8_t> old = {'k', 'e', 'e', 'p'};
    r.Work.Write("stop.86G", old);
    r.Calc().AddVariable(Ti85Var("A", 100));
    r.Calc().AddVariable(Ti85Var("BIG", 3000));
    auto* job = r.Start(engine::OpReceiveGroup, "stop");
    r.Calc().QueueSend({});
    // Stop once the second variable is on its way.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto s = r.Rig.Host.Events();
        if (std::count(s.begin(), s.end(), "progress:50") >= 2) break;
        std::this_thread::sleep_for(1ms);
    }
    r.Rig.Stop(job);
    ASSERT_TRUE(r.Wait());
    EXPECT_EQ(r.FilesHere(), std::vector<std::string>{"stop.86G"});
    EXPECT_EQ(ReadBytes(r.File("stop.86G")), old);
    EXPECT_TRUE(r.Boxes().empty());
    EXPECT_EQ(r.Rig.Host.Outcomes().back(), engine::JobOutcome::Stopped);
}

TEST(ReceiveGroup, EndOfTransmissionFirstIsAcknowledgedAndWritesNothing) {
    for (Model kind : {Model::TI83, Model::TI89}) {
        ReceiveRig r(kind);
        ASSERT_TRUE(r.Receive({"NOTHERE"}, engine::OpReceiveGroup, "empty"));
        EXPECT_EQ(r.PcCommands(), Commands({ACK}));
        EXPECT_TRUE(r.FilesHere().empty());
        EXPECT_EQ(r.Calc().SentCount(), 1) << "the calculator saw its EOT acknowledged";
    }
}

TEST(ReceiveGroup, FolderThatRefusesFilesGivesItsMessage) {
    ReceiveRig r(Model::TI83);
    r.Calc().AddVariable(Ti82Var("A", 5));
    ASSERT_TRUE(r.Receive({}, engine::OpReceiveGroup, (r.Work.Path() / "missing" / "g").string()));
    EXPECT_EQ(r.Boxes(), std::vector<std::string>{"error:Lodestrum Error:Unable to create file."});
    EXPECT_TRUE(r.FilesHere().empty());
}
