#include "files/ReceivedName.h"

#include <gtest/gtest.h>

#include <string>

namespace lodestrum::files {
namespace {

TEST(SafeFileName, MapsWhatCouldLeaveTheFolderOrHideInTheName) {
    using namespace std::string_literals;
    const struct {
        std::string Name;
        std::string Safe;
    } cases[] = {
        {"ABC.83P", "ABC.83P"},
        {"", "_"},
        {".", "_."},
        {"..", "_.."},
        {"...", "..."},
        {"../x", ".._x"},
        {"/etc/passwd", "_etc_passwd"},
        {"a\0b"s, "a_b"},
        {"tab\there", "tab_here"},
        {"\x7F", "_"},
        {"\x1F\x20", "_ "},
        {"back\\slash", "back\\slash"},
        {"\xB5\xE9", "\xB5\xE9"},
        {".hidden", ".hidden"},
    };
    for (const auto& c : cases) {
        const std::string safe = SafeFileName(c.Name);
        EXPECT_EQ(safe, c.Safe) << c.Name;
        EXPECT_EQ(safe.find('/'), std::string::npos);
        EXPECT_EQ(SafeFileName(safe), safe) << "idempotent for " << c.Name;
    }
}

TEST(MatchesMask, WildcardsCaseAndLists) {
    const struct {
        const char* Name;
        const char* Masks;
        bool Match;
    } cases[] = {
        {"ABC.83P", "*.83p", true},
        {"abc.83p", "*.83P", true},
        {"abc.83p", "*.8??;*.9??", true},
        {"abc.92s", "*.8??;*.9??", true},
        {"abc.89", "*.8??;*.9??", false},
        {"abc.8xpp", "*.8??", false},
        {"abc.83p", " *.85p ; *.83p ", true},
        {"abc", "*.*", true},
        {"abc.83p", "a?c.*", true},
        {"ac.83p", "a?c.*", false},
        {"abc.83p", "", true},
        {"abc.83p", ";;", true},
        {"abc.83p", "*.85p;", false},
        {"", "*", true},
        {"", "?", false},
        {"aaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*c", false},
        {"x.tib", "*.TIB", true},
        {"abc.83p", "abc.83p", true},
        {"abc.83p", "abc", false},
        {"a*b", "a*b", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchesMask(c.Name, c.Masks), c.Match) << c.Name << " vs " << c.Masks;
}

} // namespace
} // namespace lodestrum::files
