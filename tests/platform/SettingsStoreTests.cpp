#include "platform/SettingsStore.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

namespace lodestrum::platform {
namespace {

namespace fs = std::filesystem;

const std::string Header = "[HKEY_CURRENT_USER\\Software\\Quarrendale\\Lodestrum 3.0]";

class SettingsStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "lodestrum-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        Folder = pattern;
        FilePath = (Folder / "Lodestrum 3.0.reg").string();
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(Folder, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(Folder, ignored);
    }

    void WriteFile(const std::string& path, const std::string& text) {
        std::ofstream out(path, std::ios::binary);
        out << text;
    }
    std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::vector<std::string> FolderEntries(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path Folder;
    std::string FilePath;
};

TEST_F(SettingsStoreTest, EveryValueTypeRoundTrips) {
    const std::vector<std::pair<std::string, std::string>> strings{
        {"Start Directory", "/home/u"},
        {"Empty", ""},
        {"Quotes", "say \"hi\""},
        {"Backslashes", "C:\\dir\\"},
        {"Mixed", "\\\"\\\\\""},
        {"UTF-8", "Dossier \xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\x81"},
        {"Line breaks", "one\ntwo\r\nthree"},
        {"Nul", std::string("a\0b", 3)},
        {"Name with \"quote\" and \\", "x"},
    };
    const std::vector<std::pair<std::string, int32_t>> integers{
        {"Link Port", 0},  {"Delay val", 1000},     {"Calc Type", 261},
        {"Minus one", -1}, {"Smallest", INT32_MIN}, {"Largest", INT32_MAX},
    };
    {
        SettingsStore store(FilePath);
        std::string error;
        ASSERT_TRUE(store.Open(error)) << error;
        for (const auto& [name, value] : strings)
            store.WriteString(name, value);
        for (const auto& [name, value] : integers)
            store.WriteInteger(name, value);
        ASSERT_TRUE(store.Save(error)) << error;
    }
    SettingsStore store(FilePath);
    std::string error;
    ASSERT_TRUE(store.Open(error)) << error;
    for (const auto& [name, value] : strings) {
        SCOPED_TRACE(name);
        EXPECT_EQ(store.TypeOf(name), SettingsType::String);
        EXPECT_EQ(store.ReadString(name, error), value) << error;
    }
    for (const auto& [name, value] : integers) {
        SCOPED_TRACE(name);
        EXPECT_EQ(store.TypeOf(name), SettingsType::Integer);
        EXPECT_EQ(store.ReadInteger(name, error), value) << error;
    }
    // Saving what was read changes nothing.
    const std::string before = ReadFile(FilePath);
    ASSERT_TRUE(store.Save(error)) << error;
    EXPECT_EQ(ReadFile(FilePath), before);
}

TEST_F(SettingsStoreTest, WritesTheRegeditFormat) {
    SettingsStore store(FilePath);
    std::string error;
    ASSERT_TRUE(store.Open(error)) << error;
    store.WriteString("Start Directory", "/home/u");
    store.WriteInteger("Link Port", 0);
    store.WriteInteger("Delay val", 42);
    store.WriteInteger("No port", -1);
    store.WriteString("Path", "a\\b \"c\"");
    ASSERT_TRUE(store.Save(error)) << error;
    EXPECT_EQ(ReadFile(FilePath), "REGEDIT4\n\n" + Header +
                                      "\n"
                                      "\"Start Directory\"=\"/home/u\"\n"
                                      "\"Link Port\"=dword:00000000\n"
                                      "\"Delay val\"=dword:0000002a\n"
                                      "\"No port\"=dword:ffffffff\n"
                                      "\"Path\"=\"a\\\\b \\\"c\\\"\"\n"
                                      "\n");
}

TEST_F(SettingsStoreTest, NamesAreComparedWithoutRegardToCase) {
    SettingsStore store(FilePath);
    std::string error;
    ASSERT_TRUE(store.Open(error)) << error;
    store.WriteInteger("Link Port", 3);
    EXPECT_TRUE(store.HasValue("Link port"));
    EXPECT_TRUE(store.HasValue("LINK PORT"));
    EXPECT_FALSE(store.HasValue("Link Port "));
    EXPECT_EQ(store.ReadInteger("link port", error), 3);

    // Rewriting under another case keeps one value, with its first name.
    store.WriteInteger("LINK PORT", 5);
    ASSERT_TRUE(store.Save(error)) << error;
    const std::string text = ReadFile(FilePath);
    EXPECT_NE(text.find("\"Link Port\"=dword:00000005"), std::string::npos) << text;
    EXPECT_EQ(text.find("LINK PORT"), std::string::npos) << text;
}

TEST_F(SettingsStoreTest, ReadingAbsentValuesOrTheWrongTypeIsAnError) {
    WriteFile(FilePath, "REGEDIT4\n\n" + Header +
                            "\n\"Text\"=\"5\"\n\"Number\"=dword:00000005\n"
                            "\"Binary\"=hex:01,02\n");
    SettingsStore store(FilePath);
    std::string error;
    ASSERT_TRUE(store.Open(error)) << error;

    const struct {
        const char* Name;
        bool AsInteger;
        const char* Says;
    } cases[] = {
        {"Text", true, "stored as a string"}, {"Number", false, "stored as a 32-bit integer"},
        {"Binary", true, "another type"},     {"Binary", false, "another type"},
        {"Missing", true, "no setting"},      {"Missing", false, "no setting"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Name) + (c.AsInteger ? " as integer" : " as string"));
        error.clear();
        const bool got = c.AsInteger ? store.ReadInteger(c.Name, error).has_value()
                                     : store.ReadString(c.Name, error).has_value();
        EXPECT_FALSE(got);
        EXPECT_NE(error.find(c.Says), std::string::npos) << error;
        if (std::string(c.Name) != "Missing") {
            EXPECT_NE(error.find(c.Name), std::string::npos) << error;
        }
    }
}

TEST_F(SettingsStoreTest, WritingAnotherTypeReplacesTheValue) {
    SettingsStore store(FilePath);
    std::string error;
    ASSERT_TRUE(store.Open(error)) << error;
    store.WriteString("Delay val", "1000");
    store.WriteInteger("delay val", 1000);
    EXPECT_EQ(store.TypeOf("Delay val"), SettingsType::Integer);
    EXPECT_FALSE(store.ReadString("Delay val", error));
}

TEST_F(SettingsStoreTest, FilesThatDoNotParseAreReportedAndLeftAlone) {
    const struct {
        std::string Text;
        int Line;
    } cases[] = {
        {"garbage\n", 1},
        {"\n\nREGEDIT5\n", 3},
        {"REGEDIT4\n\"Loose\"=\"value\"\n", 2},
        {"REGEDIT4\n\n" + Header + "\nno quotes\n", 4},
        {"REGEDIT4\n" + Header + "\n\"Name\"\"value\"\n", 3},
        {"REGEDIT4\n" + Header + "\n\"Name\"=\"open\n", 3},
        {"REGEDIT4\n" + Header + "\n\"Name=\"x\"\n", 3},
        {"REGEDIT4\n" + Header + "\n\"Name\"=\"bad \\t escape\"\n", 3},
        {"REGEDIT4\n" + Header + "\n\"Name\"=\"x\" trailing\n", 3},
        {"REGEDIT4\n" + Header + "\n\"Name\"=dword:123456789\n", 3},
        {"REGEDIT4\n" + Header + "\n\"Name\"=dword:\n", 3},
        {"REGEDIT4\n" + Header + "\n\"Name\"=dword:12g4\n", 3},
        {"REGEDIT4\n" + Header + "\n\"Name\"=42\n", 3},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\Software\n", 2},
        {"REGEDIT4\n" + Header + "\n\"A\"=\"b\"\n\"C\"=\"\\", 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        WriteFile(FilePath, c.Text);
        SettingsStore store(FilePath);
        std::string error;
        EXPECT_FALSE(store.Open(error));
        EXPECT_NE(error.find(FilePath), std::string::npos) << error;
        EXPECT_NE(error.find("line " + std::to_string(c.Line) + ":"), std::string::npos) << error;
        EXPECT_FALSE(store.IsOpen());
        EXPECT_FALSE(store.HasValue("A"));

        // The user's file is never replaced behind their back.
        store.WriteInteger("Link Port", 1);
        EXPECT_FALSE(store.Save(error));
        EXPECT_EQ(ReadFile(FilePath), c.Text);
        EXPECT_EQ(FolderEntries(Folder), std::vector<std::string>{"Lodestrum 3.0.reg"});
    }
}

TEST_F(SettingsStoreTest, AcceptsWhatOtherWritersOfTheFormatProduce) {
    WriteFile(FilePath, "\xEF\xBB\xBFREGEDIT4\r\n"
                        "\r\n"
                        "; written by hand\r\n"
                        "[hkey_current_user\\software\\quarrendale\\lodestrum 3.0]\r\n"
                        "  \"Delay val\"=DWORD:3E8  \r\n"
                        "\"Start Directory\"=\"/tmp\"\r\n"
                        "\"Start Directory\"=\"/home\"\r\n");
    SettingsStore store(FilePath);
    std::string error;
    ASSERT_TRUE(store.Open(error)) << error;
    EXPECT_EQ(store.ReadInteger("Delay val", error), 1000);
    EXPECT_EQ(store.ReadString("Start Directory", error), "/home");

    for (const std::string& empty : {std::string(), std::string("\n\n  \n")}) {
        WriteFile(FilePath, empty);
        SettingsStore blank(FilePath);
        EXPECT_TRUE(blank.Open(error)) << error;
    }
}

TEST_F(SettingsStoreTest, OtherKeysCommentsAndValuesOfOtherTypesAreKept) {
    const std::string other1 = "[HKEY_CURRENT_USER\\Software\\Other]\n\"X\"=\"1\"\n";
    const std::string other2 = "[-HKEY_CURRENT_USER\\Software\\Gone]\n";
    const std::string other3 =
        "[HKEY_CURRENT_USER\\Software\\Quarrendale\\Lodestrum 3.0\\Sub]\n@=dword:00000001\n";
    const std::string binary = "\"Blob\"=hex:01,02,03,\\\n  04,05\n";
    WriteFile(FilePath, "REGEDIT4\n\n; top comment\n\n" + other1 + "\n" + Header +
                            "\n; ours\n\"Link Port\"=dword:00000002\n" + binary +
                            "@=\"default\"\n\n" + other2 + "\n" + other3);
    SettingsStore store(FilePath);
    std::string error;
    ASSERT_TRUE(store.Open(error)) << error;
    EXPECT_EQ(store.TypeOf("Blob"), SettingsType::Other);
    EXPECT_EQ(store.ReadString("", error), "default");
    EXPECT_FALSE(store.HasValue("X"));
    store.WriteInteger("Link Port", 4);
    store.WriteString("Start Directory", "/srv");
    ASSERT_TRUE(store.Save(error)) << error;

    EXPECT_EQ(ReadFile(FilePath), "REGEDIT4\n\n; top comment\n\n" + other1 + "\n" + Header +
                                      "\n; ours\n\"Link Port\"=dword:00000004\n" + binary +
                                      "@=\"default\"\n\"Start Directory\"=\"/srv\"\n\n" + other2 +
                                      "\n" + other3 + "\n");
}

TEST_F(SettingsStoreTest, MissingFileIsAnEmptyKeyAndSavingCreatesTheFolders) {
    const std::string nested = (Folder / "a" / "b" / "Lodestrum 3.0.reg").string();
    SettingsStore store(nested);
    std::string error;
    ASSERT_TRUE(store.Open(error)) << error;
    EXPECT_FALSE(store.HasValue("Link Port"));
    store.WriteInteger("Link Port", 7);
    ASSERT_TRUE(store.Save(error)) << error;
    SettingsStore again(nested);
    ASSERT_TRUE(again.Open(error)) << error;
    EXPECT_EQ(again.ReadInteger("Link port", error), 7);
}

TEST_F(SettingsStoreTest, FilesThatCannotBeReadAreErrors) {
    fs::create_directory(FilePath); // a folder where the file should be
    std::string error;
    SettingsStore folder(FilePath);
    EXPECT_FALSE(folder.Open(error));
    EXPECT_NE(error.find(FilePath), std::string::npos) << error;
    EXPECT_NE(error.find("Is a directory"), std::string::npos) << error;
    fs::remove(FilePath);

    ASSERT_EQ(::mkfifo(FilePath.c_str(), 0600), 0);
    SettingsStore fifo(FilePath); // must not wait for a writer
    EXPECT_FALSE(fifo.Open(error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    fs::remove(FilePath);

    { std::ofstream(FilePath) << "REGEDIT4\n"; }
    fs::resize_file(FilePath, 64 * 1024 * 1024);
    SettingsStore huge(FilePath);
    EXPECT_FALSE(huge.Open(error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
}

TEST_F(SettingsStoreTest, SavingWithoutOpeningNeverReplacesTheFile) {
    const std::string text = "REGEDIT4\n\n" + Header + "\n\"Keep\"=\"me\"\n\n";
    WriteFile(FilePath, text);
    SettingsStore store(FilePath);
    store.WriteString("Keep", "lost");
    std::string error;
    EXPECT_FALSE(store.Save(error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadFile(FilePath), text);
}

// Fails the chosen step of a save the way a full or broken disk does.
class FailingFileOps : public SettingsFileOps {
  public:
    enum class Step { Write, Fsync, Rename } FailAt;
    int Error;
    size_t BytesBeforeFailure = 0; // Write: how much lands before the disk is full

    FailingFileOps(Step step, int error, size_t bytes = 0)
        : FailAt(step), Error(error), BytesBeforeFailure(bytes) {}

    long Write(int fd, const void* data, size_t size) override {
        if (FailAt != Step::Write) return SettingsFileOps::Write(fd, data, size);
        if (Written >= BytesBeforeFailure) return -Error;
        const long done =
            SettingsFileOps::Write(fd, data, std::min(size, BytesBeforeFailure - Written));
        if (done > 0) Written += static_cast<size_t>(done);
        return done;
    }
    int Fsync(int fd) override {
        return FailAt == Step::Fsync ? -Error : SettingsFileOps::Fsync(fd);
    }
    int Rename(const std::string& from, const std::string& to) override {
        return FailAt == Step::Rename ? -Error : SettingsFileOps::Rename(from, to);
    }

  private:
    size_t Written = 0;
};

TEST_F(SettingsStoreTest, FailedSaveLeavesTheOldFileAndNoTemporaryFile) {
    const std::string old = "REGEDIT4\n\n" + Header + "\n\"Link Port\"=dword:00000001\n\n";
    using Step = FailingFileOps::Step;
    const struct {
        Step At;
        int Error;
        size_t Bytes;
        const char* Says;
    } cases[] = {
        {Step::Write, ENOSPC, 0, "No space left on device"},
        {Step::Write, ENOSPC, 20, "No space left on device"},
        {Step::Write, EIO, 5, "Input/output error"},
        {Step::Fsync, EIO, 0, "Input/output error"},
        {Step::Rename, EXDEV, 0, "cross-device"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Says);
        WriteFile(FilePath, old);
        SettingsStore store(FilePath, std::make_shared<FailingFileOps>(c.At, c.Error, c.Bytes));
        std::string error;
        ASSERT_TRUE(store.Open(error)) << error;
        store.WriteInteger("Link Port", 2);
        store.WriteString("Start Directory", std::string(500, 'x'));
        EXPECT_FALSE(store.Save(error));
        EXPECT_NE(error.find(c.Says), std::string::npos) << error;
        EXPECT_NE(error.find(FilePath), std::string::npos) << error;
        EXPECT_EQ(ReadFile(FilePath), old);
        EXPECT_EQ(FolderEntries(Folder), std::vector<std::string>{"Lodestrum 3.0.reg"});
    }
}

TEST_F(SettingsStoreTest, SaveIntoAPathThatCannotHoldAFileFails) {
    // A plain file turns up where a folder of the path should be.
    const std::string blocker = (Folder / "sub").string();
    const std::string cases[] = {blocker + "/Lodestrum 3.0.reg",
                                 blocker + "/deeper/Lodestrum 3.0.reg"};
    for (const std::string& path : cases) {
        SCOPED_TRACE(path);
        fs::remove(blocker);
        SettingsStore store(path);
        std::string error;
        ASSERT_TRUE(store.Open(error)) << error;
        WriteFile(blocker, "not a folder");
        store.WriteInteger("Link Port", 1);
        EXPECT_FALSE(store.Save(error));
        EXPECT_NE(error.find("Not a directory"), std::string::npos) << error;
        EXPECT_EQ(ReadFile(blocker), "not a folder");
        EXPECT_EQ(FolderEntries(Folder), std::vector<std::string>{"sub"});

        // Reading through the file is an error too, not an empty key.
        SettingsStore again(path);
        EXPECT_FALSE(again.Open(error));
        EXPECT_NE(error.find("Not a directory"), std::string::npos) << error;
    }
}

TEST_F(SettingsStoreTest, SaveIntoAReadOnlyFolderFailsAndKeepsTheFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    const std::string old = "REGEDIT4\n\n" + Header + "\n\"Link Port\"=dword:00000001\n\n";
    WriteFile(FilePath, old);
    SettingsStore store(FilePath);
    std::string error;
    ASSERT_TRUE(store.Open(error)) << error;
    fs::permissions(Folder, fs::perms::owner_read | fs::perms::owner_exec);
    store.WriteInteger("Link Port", 2);
    EXPECT_FALSE(store.Save(error));
    EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
    fs::permissions(Folder, fs::perms::owner_all);
    EXPECT_EQ(ReadFile(FilePath), old);
    EXPECT_EQ(FolderEntries(Folder), std::vector<std::string>{"Lodestrum 3.0.reg"});
}

TEST_F(SettingsStoreTest, SavingKeepsTheFilePermissions) {
    WriteFile(FilePath, "REGEDIT4\n");
    ::chmod(FilePath.c_str(), 0640);
    SettingsStore store(FilePath);
    std::string error;
    ASSERT_TRUE(store.Open(error)) << error;
    ASSERT_TRUE(store.Save(error)) << error;
    struct stat info {};
    ASSERT_EQ(::stat(FilePath.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(SettingsStoreDefaultPathTest, FollowsTheBaseDirectoryRules) {
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    const char* savedHome = std::getenv("HOME");
    const std::string config = savedConfig ? savedConfig : "";
    const std::string home = savedHome ? savedHome : "";
    const struct {
        const char* Config; // nullptr: unset
        const char* Home;
        std::string Expected;
    } cases[] = {
        {"/cfg", "/home/u", "/cfg/Quarrendale/Lodestrum 3.0.reg"},
        {nullptr, "/home/u", "/home/u/.config/Quarrendale/Lodestrum 3.0.reg"},
        {"", "/home/u", "/home/u/.config/Quarrendale/Lodestrum 3.0.reg"},
        {"relative/cfg", "/home/u", "/home/u/.config/Quarrendale/Lodestrum 3.0.reg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Config ? c.Config : "(unset)");
        if (c.Config)
            ::setenv("XDG_CONFIG_HOME", c.Config, 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
        ::setenv("HOME", c.Home, 1);
        EXPECT_EQ(SettingsStore::DefaultPath(), c.Expected);
    }
    if (savedConfig)
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    if (savedHome)
        ::setenv("HOME", home.c_str(), 1);
    else
        ::unsetenv("HOME");
}

} // namespace
} // namespace lodestrum::platform
