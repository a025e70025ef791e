// The real lodestrum-cli against the simulated calculator on the simulated cable.
#include "CliProcess.h"
#include "files/Ti89File.h"
#include "files/Ti8xFile.h"
#include "support/TempDir.h"
#include "transfers/Transfers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

using namespace lodestrum;
using clitest::CliRun;
using clitest::RunCli;
using testkit::ReadBytes;
using testkit::TempDir;

namespace fs = std::filesystem;

namespace {

const fs::path Examples = LODESTRUM_EXAMPLES;

std::string Hex(std::span<const uint8_t> bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

// The variables a file holds, each as one comparable line.
std::vector<std::string> VariablesOf(const std::vector<uint8_t>& image, bool fourParts) {
    std::vector<std::string> out;
    if (const auto file = files::ReadTi8xFile(image, fourParts)) {
        for (const auto& v : file->Variables) {
            std::string line = Hex(v.Header);
            for (const auto& part : v.Parts) line += "|" + Hex(part);
            out.push_back(line);
        }
        return out;
    }
    const auto table = files::ReadTi89Table(image);
    if (!table) return {"unreadable"};
    std::string folder = table->Folder;
    for (const auto& entry : table->Entries) {
        if (entry.TypeId == files::Ti89FolderTypeId) {
            folder = entry.Name;
            continue;
        }
        const auto contents = files::Ti89VariableContents(image, entry.Offset);
        out.push_back(folder + "\\" + entry.Name + ":" + std::to_string(entry.TypeId) + ":" +
                      (contents ? Hex(*contents) : "damaged"));
    }
    return out;
}

std::vector<std::string> VariablesIn(const fs::path& folder, bool fourParts = false) {
    std::vector<std::string> out;
    for (const auto& item : fs::directory_iterator(folder)) {
        if (!item.is_regular_file()) continue;
        const auto vars = VariablesOf(ReadBytes(item.path()), fourParts);
        out.insert(out.end(), vars.begin(), vars.end());
    }
    std::sort(out.begin(), out.end());
    return out;
}

// A run against the simulated calculator, with settings of its own.
class Sim {
public:
    explicit Sim(const std::string& model) : Model(model) {}

    CliRun Run(std::vector<std::string> args) const {
        CliRun run;
        run.Args = std::move(args);
        run.Env = {{"XDG_CONFIG_HOME", Config.Path().string()},
                   {"XDG_RUNTIME_DIR", Runtime.Path().string()},
                   {"LODESTRUM_PORT_DRIVER", "sim"},
                   {"LODESTRUM_SIM_MODEL", Model},
                   {"LODESTRUM_SIM_DIR", Memory.Path().string()},
                   {"LODESTRUM_SIM_SKIP", ""},
                   {"LODESTRUM_SIM_LOG", "1"},
                   {"LODESTRUM_SIM_SEND", ""},
                   {"LODESTRUM_SIM_BACKUP", ""}};
        return run;
    }

    std::string Model;
    TempDir Config;
    TempDir Memory;
    TempDir Runtime; // the virtual cable's endpoints, of this run alone
};

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// A TI-83 program large enough to be still on its way when a signal comes.
std::vector<uint8_t> LongProgram() {
    std::vector<uint8_t> data(40000, 0x3F);
    data[0] = static_cast<uint8_t>((data.size() - 2) & 0xFF);
    data[1] = static_cast<uint8_t>((data.size() - 2) >> 8);
    std::vector<uint8_t> header = {static_cast<uint8_t>(data.size() & 0xFF),
                                   static_cast<uint8_t>(data.size() >> 8),
                                   0x05,
                                   'L',
                                   'O',
                                   'N',
                                   'G',
                                   0,
                                   0,
                                   0,
                                   0};
    return files::BuildTi8xFile(3, files::Ti8xComment::Transferred, {{header, {data}}});
}

} // namespace

struct SendCase {
    const char* File;
    const char* Model;
    std::vector<std::string> Extra;
};
void PrintTo(const SendCase& c, std::ostream* os) { *os << c.File; }

class SendExample : public testing::TestWithParam<SendCase> {};

TEST_P(SendExample, TheCalculatorStoresWhatTheFileHolds) {
    const auto& c = GetParam();
    Sim sim(c.Model);
    auto args = c.Extra;
    args.insert(args.end(), {"send", (Examples / c.File).string()});
    const auto result = RunCli(sim.Run(args));
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_TRUE(Has(result.Err, std::string("Sending: ") + c.File)) << result.Err;
    const bool fourParts = std::find(c.Extra.begin(), c.Extra.end(), "--ti86-four-parts") != c.Extra.end();
    std::vector<std::string> expected = VariablesOf(ReadBytes(Examples / c.File), fourParts);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(VariablesIn(sim.Memory.Path(), fourParts), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, SendExample,
    testing::Values(SendCase{"ABC.83P", "83", {}}, SendCase{"ABC.85P", "85", {}},
                    SendCase{"L1.82L", "82", {}}, SendCase{"THREE.86G", "86", {}},
                    SendCase{"Backup.83B", "83", {}},
                    SendCase{"Backup.86B", "86", {"--ti86-four-parts"}},
                    SendCase{"abc.89P", "89", {}}, SendCase{"GROUP.89G", "89", {"--varlink-only"}}),
    [](const auto& info) {
        std::string name = info.param.File;
        std::replace(name.begin(), name.end(), '.', '_');
        return name;
    });

TEST(CliSend, SeveralFilesAreOneSeriesClosedByOneEot) {
    Sim sim("83");
    const auto result = RunCli(sim.Run({"send", (Examples / "ABC.83P").string(),
                                        (Examples / "Backup.83B").string()}));
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_EQ(Count(result.Err, "PC -> calc VAR"), 2) << result.Err;
    EXPECT_EQ(Count(result.Err, "PC -> calc EOT"), 1) << result.Err;
    EXPECT_EQ(VariablesIn(sim.Memory.Path()).size(), 2u);
}

TEST(CliSend, ATi89SeriesOutsideVarLinkNeedsNoClosingEot) {
    Sim sim("89");
    // Each variable ends its own transmission; the series adds no EOT of its own.
    const auto result = RunCli(sim.Run({"send", (Examples / "abc.89P").string(),
                                        (Examples / "GROUP.89G").string()}));
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_EQ(Count(result.Err, "PC -> calc VAR"), 4) << result.Err;
    EXPECT_EQ(Count(result.Err, "PC -> calc EOT"), 4) << result.Err;
}

TEST(CliSend, ARefusalExitsOneWithItsMessage) {
    Sim sim("83");
    auto run = sim.Run({"send", (Examples / "ABC.83P").string()});
    run.Env["LODESTRUM_SIM_SKIP"] = "1";
    const auto result = RunCli(run);
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_TRUE(Has(result.Err, "refused the variable (SKIP code 1)")) << result.Err;
    EXPECT_TRUE(VariablesIn(sim.Memory.Path()).empty());
}

TEST(CliSend, AMissingFileIsReportedAndExitsOne) {
    Sim sim("83");
    const auto result = RunCli(sim.Run({"send", "/nonexistent/ABC.83P"}));
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_TRUE(Has(result.Err, "Lodestrum Error: Unable to open file")) << result.Err;
}

TEST(CliSend, CtrlCDuringALongSendExits130) {
    Sim sim("83");
    TempDir files;
    const auto path = files.Write("LONG.83P", LongProgram());
    auto run = sim.Run({"send", path.string()});
    // The status of the data packet: the calculator logs the packet only once it is whole.
    run.InterruptWhen = "Sending: LONG.83P : LONG...";
    run.Timeout = std::chrono::seconds(60);
    const auto result = RunCli(run);
    EXPECT_EQ(result.ExitCode, 130) << result.Err;
    EXPECT_TRUE(Has(result.Err, "Stopping...")) << result.Err;
    EXPECT_EQ(Count(result.Err, "PC -> calc EOT"), 0) << result.Err;
    EXPECT_TRUE(VariablesIn(sim.Memory.Path()).empty());
}

TEST(CliSend, WithoutATerminalAFlashQuestionRefusesAndSendsNothing) {
    Sim sim("89");
    TempDir files;
    std::vector<uint8_t> flash = {'*', '*', 'T', 'I', 'F', 'L', '*', '*'};
    flash.resize(200, 0);
    const auto path = files.Write("app.89k", flash);
    const auto result = RunCli(sim.Run({"send", path.string()}));
    EXPECT_EQ(result.ExitCode, 2) << result.Err;
    EXPECT_TRUE(Has(result.Err, "there is no terminal")) << result.Err;
    EXPECT_TRUE(Has(result.Err, "--yes")) << result.Err;
    EXPECT_FALSE(Has(result.Err, "PC -> calc")) << result.Err;
}

TEST(CliSend, NoAnswersANonCalculatorFileAndSendsNothing) {
    Sim sim("83");
    TempDir files;
    const auto path = files.Write("notes.txt", std::vector<uint8_t>(80, 'x'));
    const auto result = RunCli(sim.Run({"--no", "send", path.string()}));
    EXPECT_EQ(result.ExitCode, 1) << result.Err;
    EXPECT_TRUE(Has(result.Err, "This file is not a TI-8x file!")) << result.Err;
    EXPECT_FALSE(Has(result.Err, "PC -> calc VAR")) << result.Err;
}

TEST(CliSend, QuietKeepsErrorsAndDropsStatusLines) {
    Sim sim("83");
    auto run = sim.Run({"--quiet", "send", (Examples / "ABC.83P").string(), "/nonexistent/X.83P"});
    run.Env["LODESTRUM_SIM_LOG"] = "";
    const auto result = RunCli(run);
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_FALSE(Has(result.Err, "Sending: ")) << result.Err;
    EXPECT_TRUE(Has(result.Err, "Unable to open file")) << result.Err;
    EXPECT_EQ(VariablesIn(sim.Memory.Path()).size(), 1u);
}

TEST(CliSend, ADamagedSettingsStoreWarnsAndDefaultsApply) {
    Sim sim("83");
    fs::create_directories(sim.Config.Path() / "Quarrendale");
    const auto store = sim.Config.Path() / "Quarrendale" / "Lodestrum 3.0.reg";
    sim.Config.Write("Quarrendale/Lodestrum 3.0.reg", {'g', 'a', 'r', 'b', 'a', 'g', 'e', '\n'});
    const auto before = ReadBytes(store);
    const auto result = RunCli(sim.Run({"send", (Examples / "ABC.83P").string()}));
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_TRUE(Has(result.Err, "warning: saved settings not used")) << result.Err;
    EXPECT_EQ(ReadBytes(store), before);
}

TEST(CliSend, TheStoredPortIsUsedAndAFlagOverridesIt) {
    Sim sim("83");
    fs::create_directories(sim.Config.Path() / "Quarrendale");
    const std::string text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Quarrendale\\Lodestrum 3.0]\n"
                             "\"Link Port\"=dword:00000001\n";
    sim.Config.Write("Quarrendale/Lodestrum 3.0.reg", std::vector<uint8_t>(text.begin(), text.end()));
    // The simulated cable is on entry 0: with the stored entry 1 nothing answers.
    auto run = sim.Run({"send", (Examples / "ABC.83P").string()});
    run.InterruptWhen = "Sending: ABC.83P...";
    EXPECT_EQ(RunCli(run).ExitCode, 130);
    const auto result = RunCli(sim.Run({"--port", "0x378-LPT", "send", (Examples / "ABC.83P").string()}));
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
}

struct UsageCase {
    const char* Name;
    std::vector<std::string> Args;
    const char* Message;
};
void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.Name; }

class CliUsage : public testing::TestWithParam<UsageCase> {};

TEST_P(CliUsage, AWrongCommandLineExitsTwoWithTheUsage) {
    Sim sim("83");
    const auto result = RunCli(sim.Run(GetParam().Args));
    EXPECT_EQ(result.ExitCode, 2);
    EXPECT_TRUE(Has(result.Err, GetParam().Message)) << result.Err;
    EXPECT_TRUE(Has(result.Err, "Usage: lodestrum-cli")) << result.Err;
    EXPECT_FALSE(Has(result.Err, "PC -> calc")) << result.Err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliUsage,
    testing::Values(UsageCase{"UnknownOption", {"--frobnicate", "detect"}, "unknown option '--frobnicate'"},
                    UsageCase{"NoCommand", {}, "no command given"},
                    UsageCase{"SendWithoutFiles", {"send"}, "'send' needs at least one file"},
                    UsageCase{"CaptureToJpeg", {"capture", "out.jpg"}, "must end in .bmp or .png"},
                    UsageCase{"UnknownModel", {"--calc", "84", "detect"}, "--calc: '84'"},
                    UsageCase{"YesAndNo", {"--yes", "--no", "detect"}, "exclude each other"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(CliInfo, HelpAndVersionGoToStandardOutput) {
    Sim sim("83");
    const auto help = RunCli(sim.Run({"--help"}));
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_TRUE(Has(help.Out, "Usage: lodestrum-cli"));
    const auto version = RunCli(sim.Run({"--version"}));
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_TRUE(Has(version.Out, "lodestrum-cli "));
}

TEST(CliDetect, FindsTheSimulatedCable) {
    Sim sim("83");
    const auto result = RunCli(sim.Run({"detect"}));
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_TRUE(Has(result.Err, "A cable seems to be at 0x378-LPT.")) << result.Err;
}

TEST(CliDriver, AnUnknownDriverIsReported) {
    Sim sim("83");
    auto run = sim.Run({"detect"});
    run.Env["LODESTRUM_PORT_DRIVER"] = "nonesuch";
    const auto result = RunCli(run);
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_TRUE(Has(result.Err, "port driver \"nonesuch\" not loaded")) << result.Err;
}

TEST(CliVirtual, WithoutAnEmulatorTheVirtualCableIsRefused) {
    Sim sim("83");
    const auto result = RunCli(sim.Run({"--virtual", "send", (Examples / "ABC.83P").string()}));
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_TRUE(Has(result.Err, "no emulator answered on the virtual cable")) << result.Err;
    EXPECT_FALSE(Has(result.Err, "Sending: ")) << result.Err;
}

TEST(CliVirtual, SendsToAndReceivesFromTheEmulatorProcess) {
    Sim sim("83");
    TempDir emulatorMemory, into;
    fs::copy(Examples / "Backup.83B", emulatorMemory.Path());
    const auto env = sim.Run({}).Env;
    {
        clitest::Emulator emulator({"--model", "83", "--dir", emulatorMemory.Path().string()}, env,
                                   sim.Runtime.Path());
        ASSERT_TRUE(emulator.Ready);
        const auto result = RunCli(sim.Run({"--virtual", "send", (Examples / "ABC.83P").string()}));
        ASSERT_EQ(result.ExitCode, 0) << result.Err;
        EXPECT_EQ(VariablesOf(ReadBytes(emulatorMemory.Path() / "ABC.83P"), false),
                  VariablesOf(ReadBytes(Examples / "ABC.83P"), false));
    }
    fs::remove(emulatorMemory.Path() / "ABC.83P");
    clitest::Emulator emulator(
        {"--model", "83", "--dir", emulatorMemory.Path().string(), "--send", "all"}, env,
        sim.Runtime.Path());
    ASSERT_TRUE(emulator.Ready);
    const auto result = RunCli(sim.Run({"--virtual", "receive", "--dir", into.Path().string()}));
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_EQ(VariablesIn(into.Path()), VariablesIn(emulatorMemory.Path()));
}

TEST(CliReceive, EveryVariableTheCalculatorSendsLandsInTheFolder) {
    Sim sim("86");
    for (const char* name : {"THREE.86G", "ABC.85P"}) fs::copy(Examples / name, sim.Memory.Path());
    fs::remove(sim.Memory.Path() / "ABC.85P"); // another model's file is not its memory
    TempDir into;
    auto run = sim.Run({"receive", "--dir", into.Path().string()});
    run.Env["LODESTRUM_SIM_SEND"] = "all";
    const auto result = RunCli(run);
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_EQ(VariablesIn(into.Path()), VariablesIn(sim.Memory.Path()));
}

TEST(CliReceive, AnExistingFileIsKeptWithKeep) {
    Sim sim("83");
    fs::copy(Examples / "ABC.83P", sim.Memory.Path());
    TempDir into;
    into.Write("ABC.83P", {'o', 'l', 'd'});
    auto run = sim.Run({"--keep", "receive", "--dir", into.Path().string()});
    run.Env["LODESTRUM_SIM_SEND"] = "all";
    const auto result = RunCli(run);
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_EQ(ReadBytes(into.Path() / "ABC.83P"), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(VariablesOf(ReadBytes(into.Path() / "ABC-1.83P"), false),
              VariablesOf(ReadBytes(Examples / "ABC.83P"), false));
}

TEST(CliReceive, ABackupIsStoredUnderItsProposedName) {
    Sim sim("86");
    fs::copy(Examples / "THREE.86G", sim.Memory.Path());
    TempDir into;
    auto run = sim.Run({"receive", "--dir", into.Path().string()});
    run.Env["LODESTRUM_SIM_BACKUP"] = "1";
    const auto result = RunCli(run);
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_TRUE(Has(result.Err, "Save backup as: Backup.86B")) << result.Err;
    const auto file = files::ReadTi8xFile(ReadBytes(into.Path() / "Backup.86B"), false);
    ASSERT_TRUE(file) << result.Err;
    ASSERT_EQ(file->Variables.size(), 1u);
    EXPECT_EQ(file->Variables[0].Parts.size(), 3u);
    EXPECT_EQ(file->Variables[0].Header.at(2), 0x1D);
}

TEST(CliReceiveGroup, EverythingUpToTheEotInOneFile) {
    struct Case {
        const char* Model;
        const char* Example;
        const char* Written;
    };
    for (const Case c : {Case{"86", "THREE.86G", "all.86G"}, Case{"89", "GROUP.89G", "all.89G"}}) {
        SCOPED_TRACE(c.Example);
        Sim sim(c.Model);
        fs::copy(Examples / c.Example, sim.Memory.Path());
        TempDir into;
        auto run = sim.Run({"receive-group", (into.Path() / "all").string()});
        run.Env["LODESTRUM_SIM_SEND"] = "all";
        const auto result = RunCli(run);
        EXPECT_EQ(result.ExitCode, 0) << result.Err;
        EXPECT_EQ(VariablesIn(into.Path()), VariablesIn(sim.Memory.Path()));
        EXPECT_TRUE(fs::exists(into.Path() / c.Written)) << result.Err;
    }
}

TEST(CliReceiveGroup, AStopBeforeTheEotLeavesTheOldFile) {
    Sim sim("83");
    TempDir into;
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    const auto target = into.Write("grp.83G", old);
    sim.Memory.Write("LONG.83P", LongProgram());
    auto run = sim.Run({"--replace", "receive-group", target.string()});
    run.Env["LODESTRUM_SIM_SEND"] = "all";
    run.InterruptWhen = "Receiving: grp.83G...";
    const auto result = RunCli(run);
    EXPECT_EQ(result.ExitCode, 130) << result.Err;
    EXPECT_EQ(ReadBytes(target), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(into.Path()), fs::directory_iterator()), 1);
}

TEST(CliCapture, WritesAOneBitPictureOfTheModelsScreen) {
    struct Size {
        const char* Model;
        std::vector<std::string> Extra;
        int Width, Height;
    };
    const Size sizes[] = {
        {"83", {}, 96, 64},
        {"86", {"--ti89-clip"}, 128, 64}, // clipping is for the TI-89/92 only
        {"89", {}, 240, 128},
        {"92", {"--ti89-clip"}, 160, 100},
    };
    for (const auto& s : sizes) {
        SCOPED_TRACE(s.Model);
        Sim sim(s.Model);
        TempDir out;
        const auto path = out.Path() / "screen.bmp";
        auto args = s.Extra;
        args.insert(args.end(), {"capture", path.string()});
        const auto result = RunCli(sim.Run(args));
        ASSERT_EQ(result.ExitCode, 0) << result.Err;
        const auto bmp = ReadBytes(path);
        ASSERT_GE(bmp.size(), 62u);
        auto u32 = [&](std::size_t at) {
            return uint32_t(bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 | bmp[at + 3] << 24);
        };
        EXPECT_EQ(bmp[0], 'B');
        EXPECT_EQ(bmp[1], 'M');
        EXPECT_EQ(u32(18), static_cast<uint32_t>(s.Width));
        EXPECT_EQ(u32(22), static_cast<uint32_t>(s.Height));
        EXPECT_EQ(bmp[28], 1) << "bits per pixel";
        EXPECT_EQ(u32(2), bmp.size());
        EXPECT_EQ(bmp.size(), 62u + (s.Width / 8 + 3) / 4 * 4 * s.Height);
        EXPECT_TRUE(Has(result.Err, "Getting ScreenShot...")) << result.Err;

        const auto png = out.Path() / "screen.png";
        args.back() = png.string();
        ASSERT_EQ(RunCli(sim.Run(args)).ExitCode, 0);
        const auto p = ReadBytes(png);
        ASSERT_GE(p.size(), 24u);
        EXPECT_EQ(p[1], 'P');
        EXPECT_EQ(uint32_t(p[16] << 24 | p[17] << 16 | p[18] << 8 | p[19]),
                  static_cast<uint32_t>(s.Width));
        EXPECT_EQ(uint32_t(p[20] << 24 | p[21] << 16 | p[22] << 8 | p[23]),
                  static_cast<uint32_t>(s.Height));
    }
}

TEST(CliBinary, LinksNoQt) {
    const std::string command = std::string("ldd '") + LODESTRUM_CLI_BINARY + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string libraries;
    char buffer[4096];
    while (const auto n = std::fread(buffer, 1, sizeof buffer, pipe))
        libraries.append(buffer, n);
    ::pclose(pipe);
    ASSERT_TRUE(Has(libraries, "libc.so")) << libraries;
    EXPECT_FALSE(Has(libraries, "libQt")) << libraries;
}
