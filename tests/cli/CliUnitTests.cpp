#include "cli/CliHost.h"
#include "cli/Defaults.h"
#include "cli/ImageFiles.h"
#include "cli/Messages.h"
#include "cli/Options.h"
#include "cli/Runner.h"
#include "drivers/SimDriver.h"
#include "files/MonoImageFile.h"
#include "files/Ti8xFile.h"
#include "support/TempDir.h"
#include "transfers/Transfers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <unistd.h>

using namespace lodestrum;
using namespace lodestrum::cli;
using testkit::ReadBytes;
using testkit::TempDir;

namespace fs = std::filesystem;

namespace {

ParsedCommandLine Parse(std::vector<std::string> args) { return ParseCommandLine(args); }

// A console with no terminal, writing to /dev/null.
struct QuietConsole {
    int Null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    Console Out{Null, -1, true, false};
    ~QuietConsole() { ::close(Null); }
};

} // namespace

TEST(CliOptions, PortsByIndexAddressOrName) {
    const std::pair<const char*, std::optional<int>> cases[] = {
        {"0", 0},          {"7", 7},          {"8", std::nullopt}, {"0x378", 0},
        {"0X2E8", 7},      {"0x3f8-com", 4},  {"0x3BC-LPT", 2},    {"0x379", std::nullopt},
        {"", std::nullopt}, {"-1", std::nullopt}, {"0x378-COM", std::nullopt},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(ParsePort(text), expected) << text;
}

TEST(CliOptions, ModelsToCalcType) {
    const std::pair<const char*, std::optional<uint8_t>> cases[] = {
        {"82", 2}, {"83", 3}, {"85", 5}, {"86", 6}, {"89", 8}, {"92P", 8}, {"92p", 8}, {"92", 9},
        {"84", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(ParseCalc(text), expected) << text;
}

TEST(CliOptions, OptionsStandBeforeOrAfterTheCommand) {
    const auto p = Parse({"--calc", "86", "send", "a.86p", "--invert", "--delay=200", "--", "--b.86p"});
    ASSERT_TRUE(p.Ok()) << p.Error;
    EXPECT_EQ(p.Options.Cmd, Command::Send);
    EXPECT_EQ(p.Options.Files, (std::vector<std::string>{"a.86p", "--b.86p"}));
    EXPECT_EQ(p.Options.CalcType, 6);
    EXPECT_TRUE(p.Options.Invert);
    EXPECT_EQ(p.Options.Delay, 200);
}

TEST(CliOptions, EveryOptionReachesItsSetting) {
    using Check = std::function<bool(const CliOptions&, const RunSettings&)>;
    const std::pair<std::vector<std::string>, Check> cases[] = {
        {{"--driver", "sim"}, [](auto& o, auto&) { return o.Driver == "sim"; }},
        {{"--driver=raw"}, [](auto& o, auto&) { return o.Driver == "raw"; }},
        {{"--port", "0x3BC-LPT"}, [](auto&, auto& s) { return s.Job.LinkPortIndex == 2; }},
        {{"--port", "5"}, [](auto&, auto& s) { return s.Job.LinkPortIndex == 5; }},
        {{"--virtual"}, [](auto&, auto& s) { return s.Job.UseVirtualLink; }},
        {{"--calc", "92"}, [](auto&, auto& s) { return s.CalcType == 9; }},
        {{"--invert"}, [](auto&, auto& s) { return s.Job.InvertLines; }},
        {{"--delay", "0"}, [](auto&, auto& s) { return s.Job.DelayText == "0"; }},
        {{"--ti86-four-parts"}, [](auto&, auto& s) { return s.Job.TI86FourParts; }},
        {{"--ti89-clip"}, [](auto&, auto& s) { return s.Job.TI89ClipScreen; }},
        {{"--no-folder"}, [](auto&, auto& s) { return s.Job.TI89NoFolderName; }},
        {{"--to-folder", "games"},
         [](auto&, auto& s) { return s.Job.TI89SendToFolder && s.Job.DefaultFolder == "games"; }},
        {{"--varlink-only"}, [](auto&, auto& s) { return s.Job.TI89VarLinkOnly; }},
        {{"--save-as-92plus"}, [](auto&, auto& s) { return s.Job.TI89SaveAs92Plus; }},
        {{"--yes"}, [](auto& o, auto&) { return o.Answers == AnswerMode::Yes; }},
        {{"--no"}, [](auto& o, auto&) { return o.Answers == AnswerMode::No; }},
        {{"--replace"}, [](auto& o, auto&) { return o.Existing == ExistingMode::Replace; }},
        {{"--keep"}, [](auto& o, auto&) { return o.Existing == ExistingMode::Keep; }},
        {{"--quiet"}, [](auto& o, auto&) { return o.Quiet; }},
        {{"--help"}, [](auto& o, auto&) { return o.Help; }},
        {{"--version"}, [](auto& o, auto&) { return o.Version; }},
    };
    const RunSettings builtin = BuiltinSettings();
    for (const auto& [flags, check] : cases) {
        auto args = flags;
        args.push_back("detect");
        const auto p = Parse(args);
        ASSERT_TRUE(p.Ok()) << flags[0] << ": " << p.Error;
        RunSettings s = builtin;
        ApplyOptions(s, p.Options);
        EXPECT_TRUE(check(p.Options, s)) << flags[0];
        EXPECT_NE(text::Usage().find(flags[0].substr(0, flags[0].find('='))), std::string::npos)
            << flags[0] << " is missing from the usage";
    }
    // No flag: the stored (here built-in) settings stand.
    RunSettings s = builtin;
    ApplyOptions(s, Parse({"detect"}).Options);
    EXPECT_EQ(s.Job.LinkPortIndex, builtin.Job.LinkPortIndex);
    EXPECT_EQ(s.CalcType, builtin.CalcType);
    EXPECT_FALSE(s.Job.UseVirtualLink || s.Job.TI89ClipScreen || s.Job.TI89SaveAs92Plus);
}

TEST(CliOptions, WrongCommandLines) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"detect", "--port"}, "needs a value"},
        {{"detect", "--quiet=1"}, "takes no value"},
        {{"detect", "--delay", "-5"}, "--delay"},
        {{"detect", "--delay", "32601"}, "--delay"},
        {{"detect", "--to-folder", "ninechars"}, "--to-folder"},
        {{"detect", "--to-folder", "a\\b"}, "--to-folder"},
        {{"detect", "--driver", "usb"}, "--driver"},
        {{"--replace", "--keep", "detect"}, "exclude each other"},
        {{"--virtual", "--no-virtual", "detect"}, "exclude each other"},
        {{"send", "--dir", "x", "a.83p"}, "--dir"},
        {{"receive", "extra"}, "takes no file"},
        {{"receive-group"}, "exactly one file"},
        {{"capture", "a.png", "b.png"}, "exactly one file"},
        {{"capture", "png"}, ".bmp or .png"},
        {{"fetch"}, "unknown command"},
    };
    for (const auto& [args, message] : cases) {
        const auto p = Parse(args);
        EXPECT_NE(p.Error.find(message), std::string::npos) << args[0] << " -> " << p.Error;
    }
}

TEST(CliOptions, HelpAnswersEvenAWrongCommandLine) {
    EXPECT_TRUE(Parse({"--help", "--frobnicate"}).Ok());
    EXPECT_TRUE(Parse({"-h"}).Options.Help);
    EXPECT_TRUE(Parse({"capture", "OUT.PNG"}).Ok());
}

TEST(CliDefaults, AMissingStoreGivesTheWindowsFirstStart) {
    TempDir dir;
    std::vector<std::string> warnings;
    const auto s = LoadStoredSettings((dir.Path() / "none.reg").string(), warnings);
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(s.CalcType, 5);
    EXPECT_EQ(s.Job.LinkPortIndex, 0);
    EXPECT_EQ(s.Job.DelayText, "1000");
    EXPECT_EQ(s.Job.DefaultFolder, "main");
    EXPECT_FALSE(s.Job.UseVirtualLink || s.Job.InvertLines || s.Job.TI89VarLinkOnly);
    EXPECT_FALSE(fs::exists(dir.Path() / "none.reg")) << "the tool never writes the store";
}

TEST(CliDefaults, StoredValuesAndTheirLimits) {
    TempDir dir;
    const std::string text =
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Quarrendale\\Lodestrum 3.0]\n"
        "\"TI89: Default folder name\"=\"progs\"\n"
        "\"link port\"=dword:00000004\n"
        "\"Delay val\"=dword:ffffffff\n"
        "\"Invert Lines\"=dword:00000002\n"
        "\"TI89: Only VarLink menu\"=dword:00000001\n"
        "\"Calc Type\"=dword:00000105\n"
        "\"TI86: 4 Parts backup\"=\"yes\"\n";
    const auto path = dir.Write("s.reg", std::vector<uint8_t>(text.begin(), text.end()));
    const auto before = ReadBytes(path);
    std::vector<std::string> warnings;
    auto s = LoadStoredSettings(path.string(), warnings);
    EXPECT_EQ(s.Job.DefaultFolder, "progs");
    EXPECT_EQ(s.Job.LinkPortIndex, 4);
    EXPECT_EQ(s.Job.DelayText, "0") << "a stored delay is clamped into 0..32600";
    EXPECT_TRUE(s.Job.InvertLines);
    EXPECT_TRUE(s.Job.TI89VarLinkOnly);
    EXPECT_EQ(s.CalcType, 5) << "261 keeps its low 8 bits";
    ASSERT_EQ(warnings.size(), 1u) << "a value of the wrong type is told, not fatal";
    EXPECT_FALSE(s.Job.TI86FourParts);
    EXPECT_EQ(ReadBytes(path), before);

    CliOptions o;
    o.Port = 0;
    o.CalcType = 8;
    o.Delay = 50;
    o.ToFolder = "x";
    o.TI86FourParts = true;
    ApplyOptions(s, o);
    EXPECT_EQ(s.Job.LinkPortIndex, 0);
    EXPECT_EQ(s.CalcType, 8);
    EXPECT_EQ(s.Job.DelayText, "50");
    EXPECT_TRUE(s.Job.TI89SendToFolder);
    EXPECT_EQ(s.Job.DefaultFolder, "x");
    EXPECT_TRUE(s.Job.TI86FourParts);
}

TEST(CliDefaults, AStoredPortOutsideTheTableChoosesNone) {
    TempDir dir;
    const std::string text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Quarrendale\\Lodestrum 3.0]\n"
                             "\"Link Port\"=dword:00000009\n";
    const auto path = dir.Write("s.reg", std::vector<uint8_t>(text.begin(), text.end()));
    std::vector<std::string> warnings;
    EXPECT_EQ(LoadStoredSettings(path.string(), warnings).Job.LinkPortIndex, -1);
    EXPECT_EQ(warnings.size(), 1u);
}

TEST(CliImages, FormatByExtension) {
    EXPECT_EQ(ImageFormatForPath("a.BMP"), ImageFormat::Bmp);
    EXPECT_EQ(ImageFormatForPath("dir.png/a.png"), ImageFormat::Png);
    EXPECT_EQ(ImageFormatForPath("dir.png/a"), std::nullopt);
    EXPECT_EQ(ImageFormatForPath(".png"), std::nullopt);
}

TEST(CliImages, EachFormatIsTheFilesEncoding) {
    const engine::MonoImage image{96, 64, std::vector<uint8_t>(12 * 64, 0x5A)};
    const files::MonoBitmap bitmap{image.Width, image.Height, image.Bits};
    EXPECT_EQ(EncodeImage(image, ImageFormat::Bmp), files::EncodeMonoBmp(bitmap));
    EXPECT_EQ(EncodeImage(image, ImageFormat::Png), files::EncodeMonoPng(bitmap));
    EXPECT_TRUE(EncodeImage({96, 64, std::vector<uint8_t>(12 * 63)}, ImageFormat::Bmp).empty());
}

TEST(CliImages, AFailedWriteLeavesTheOldFileAndNoTemporary) {
    TempDir dir;
    const auto target = dir.Path() / "shot.bmp";
    fs::create_directory(target); // rename over a folder fails
    std::string error;
    const std::vector<uint8_t> bytes(100, 1);
    EXPECT_FALSE(WriteFileAtomically(target.string(), bytes, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);

    const auto file = dir.Path() / "ok.png";
    EXPECT_TRUE(WriteFileAtomically(file.string(), bytes, error)) << error;
    EXPECT_EQ(ReadBytes(file), bytes);
    EXPECT_FALSE(WriteFileAtomically((dir.Path() / "missing" / "x.png").string(), bytes, error));
}

struct SaveCase {
    const char* Name;
    AnswerMode Answers;
    ExistingMode Existing;
    bool Exists;
    std::optional<std::string> Expected; // relative to the folder
    bool Refused;
};
void PrintTo(const SaveCase& c, std::ostream* os) { *os << c.Name; }

class CliSaveDialog : public testing::TestWithParam<SaveCase> {};

TEST_P(CliSaveDialog, AnsweredByTheFlagsWithoutATerminal) {
    const auto& c = GetParam();
    TempDir dir;
    const std::string proposed = (dir.Path() / "Backup.83B").string();
    if (c.Exists) dir.Write("Backup.83B", {1});
    QuietConsole console;
    CliHost host(console.Out, c.Answers, c.Existing);
    const auto answer = host.AskSaveFileName({"Save backup as:", proposed, 2});
    if (c.Expected)
        EXPECT_EQ(answer, (dir.Path() / *c.Expected).string());
    else
        EXPECT_EQ(answer, std::nullopt);
    EXPECT_EQ(host.QuestionRefused(), c.Refused);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliSaveDialog,
    testing::Values(
        SaveCase{"FreshName", AnswerMode::Ask, ExistingMode::Ask, false, "Backup.83B", false},
        SaveCase{"ExistsNoTerminal", AnswerMode::Ask, ExistingMode::Ask, true, std::nullopt, true},
        SaveCase{"ExistsReplace", AnswerMode::Ask, ExistingMode::Replace, true, "Backup.83B", false},
        SaveCase{"ExistsKeep", AnswerMode::No, ExistingMode::Keep, true, "Backup-1.83B", false},
        SaveCase{"ExistsYes", AnswerMode::Yes, ExistingMode::Ask, true, "Backup.83B", false},
        SaveCase{"ExistsNo", AnswerMode::No, ExistingMode::Ask, true, std::nullopt, false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(CliHostAnswers, TheReplaceQuestionFollowsReplaceOrKeep) {
    QuietConsole console;
    const std::string replace = "Replace ABC.83P?\nPress No to choose another name.";
    CliHost keep(console.Out, AnswerMode::Yes, ExistingMode::Keep);
    EXPECT_FALSE(keep.AskYesNo("Lodestrum", replace, engine::MessageIcon::Stop));
    EXPECT_TRUE(keep.AskYesNo("Bad File", "Continue?", engine::MessageIcon::Stop));
    CliHost ask(console.Out, AnswerMode::Ask, ExistingMode::Replace);
    EXPECT_TRUE(ask.AskYesNo("Lodestrum", replace, engine::MessageIcon::Stop));
    EXPECT_FALSE(ask.QuestionRefused());
    EXPECT_FALSE(ask.AskYesNo("Bad File", "Continue?", engine::MessageIcon::Stop));
    EXPECT_TRUE(ask.QuestionRefused()) << "no terminal: refused, never a guessed yes";
}

TEST(CliHostStop, AStopDuringASendEndsTheJobWithTheLinesReleased) {
    TempDir memory, files;
    vcalc::CalcOptions calc;
    calc.Kind = vcalc::Model::TI83;
    calc.Directory = memory.Path();
    drivers::SimDriver driver(0, calc);
    std::vector<uint8_t> data(2000, 0x11);
    const std::vector<uint8_t> header = {0xD0, 0x07, 0x05, 'L', 'O', 'N', 'G', 0, 0, 0, 0};
    const auto path = files.Write(
        "LONG.83P", files::BuildTi8xFile(3, files::Ti8xComment::Transferred, {{header, {data}}}));

    // Stops once the data are on their way, as Ctrl-C would.
    struct StoppingHost : CliHost {
        using CliHost::CliHost;
        void ShowProgress(int percent) override {
            CliHost::ShowProgress(percent);
            if (percent >= 5) RequestStop();
        }
    };
    QuietConsole console;
    StoppingHost host(console.Out, AnswerMode::Ask, ExistingMode::Ask);
    CliOptions options;
    options.Cmd = Command::Send;
    options.Files = {path.string()};
    const int code = RunCommand(options, BuiltinSettings(), host, console.Out,
                                {&driver, &transfers::DefaultTransfers(), nullptr});
    EXPECT_EQ(code, exitcode::Stopped);
    EXPECT_EQ(driver.Wire().PcDriven(), 3) << "both lines released";
    EXPECT_TRUE(driver.Calculator().Memory().empty());
}
