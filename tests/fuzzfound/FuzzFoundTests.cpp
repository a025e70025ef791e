// Each case is an input a fuzz harness found a fault with, cut down to
// what still showed it.
#include "platform/MessageEndpoint.h"
#include "platform/SettingsStore.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace lodestrum {
namespace {

namespace fs = std::filesystem;

class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "lodestrum-fuzzfound-XXXXXX").string();
        if (::mkdtemp(pattern.data())) Path = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(Path, ignored);
    }
    fs::path Path;
};

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// What the store writes back must read back as the same file, or every
// save of the window changes it a little more.
TEST(FuzzFoundSettings, SavedFileReadsBackTheSame) {
    const std::string key = "[HKEY_CURRENT_USER\\Software\\Quarrendale\\Lodestrum 3.0]";
    const struct {
        const char* Name;
        std::string Text;
    } cases[] = {
        {"foreign line ending in CR CR LF", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Other]\r\n"
                                            "\"A\"=\"b\"\r\r\n"},
        {"own comment ending in CR CR LF", "REGEDIT4\r\n" + key + "\r\n; note\r\r\n"},
        {"preamble comment ending in CRs", "REGEDIT4\r\n; made by hand\r\r\r\n" + key + "\n"},
        {"raw value ending in CR CR LF", "REGEDIT4\n" + key + "\n\"H\"=hex:01,02\r\r\n"},
        {"last raw value ending in a backslash", "REGEDIT4\n" + key + "\n\"H\"=hex:01,02,\\"},
    };
    TempFolder folder;
    ASSERT_FALSE(folder.Path.empty());
    const fs::path file = folder.Path / "settings.reg";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteFile(file, c.Text);
        platform::SettingsStore first(file.string());
        std::string error;
        ASSERT_TRUE(first.Open(error)) << error;
        const std::string once = first.Serialize();
        WriteFile(file, once);
        platform::SettingsStore second(file.string());
        ASSERT_TRUE(second.Open(error)) << error;
        EXPECT_EQ(second.Serialize(), once);
    }
}

// A Hello whose sender is forged as the window's own name makes the window
// answer itself, nested once more each time; at the nesting limit nobody
// serves its socket, and the answer used to wait out the whole time-out (16
// such records froze the emulator's thread for 52 s). With a time-out this
// long a regression shows as a hung test.
TEST(FuzzFoundMessages, MessageToItselfAtTheNestingLimitFailsAtOnce) {
    TempFolder folder;
    ASSERT_FALSE(folder.Path.empty());
    std::string error;
    auto endpoint = platform::MessageEndpoint::Listen("TEmuWnd", error, folder.Path);
    ASSERT_TRUE(endpoint) << error;
    constexpr std::chrono::minutes Forever{10};
    std::vector<bool> answered; // innermost first
    endpoint->SetHandler([&](const platform::Message& m) {
        if (m.Number != platform::LinkMessage::Hello) return;
        platform::Message hello;
        hello.Number = platform::LinkMessage::Hello;
        answered.push_back(endpoint->Send(m.Sender, hello, Forever));
    });
    platform::Message hello;
    hello.Number = platform::LinkMessage::Hello;
    EXPECT_TRUE(endpoint->Send("TEmuWnd", hello, Forever));
    EXPECT_EQ(answered, (std::vector<bool>{false, true, true, true}));
}

} // namespace
} // namespace lodestrum
