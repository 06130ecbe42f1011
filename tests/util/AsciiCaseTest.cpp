// ASCII case folding: the letters fold, nothing else does, whatever the locale.

#include "util/AsciiCase.h"

#include <clocale>
#include <gtest/gtest.h>
#include <string>

namespace {

TEST(AsciiCaseTest, FoldsOnlyTheAsciiLetters) {
    struct TCase {
        std::string Text;
        std::string Lower;
    };
    const TCase cases[] = {
        {"", ""},
        {"Corvale_EXE", "corvale_exe"},
        {"AZ az 09", "az az 09"},
        {"@[`{", "@[`{"},                         // the neighbours of 'A'..'Z' and 'a'..'z'
        {"\xC4\xD6\xDC\xC9", "\xC4\xD6\xDC\xC9"}, // Latin-1 capitals stay as they are
        {std::string("A\0B", 3), std::string("a\0b", 3)},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(AsciiLower(c.Text), c.Lower) << c.Text;
    }
}

TEST(AsciiCaseTest, ComparesIgnoringOnlyAsciiCase) {
    struct TCase {
        std::string A;
        std::string B;
        bool Equal;
    };
    const TCase cases[] = {
        {"", "", true},
        {"Content-Length", "content-length", true},
        {"CONTENT-LENGTH", "Content-Length", true},
        {"Content-Length", "Content-Lengt", false},
        {"Content-Length", "Content_Length", false},
        {"@", "`", false}, // one apart from 'A' and 'a', yet no letters
        {"[", "{", false},
        {"\xC4", "\xE4", false}, // Latin-1 capital and small A with diaeresis
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(EqualsIgnoringAsciiCase(c.A, c.B), c.Equal) << c.A << " / " << c.B;
        EXPECT_EQ(EqualsIgnoringAsciiCase(c.B, c.A), c.Equal) << c.B << " / " << c.A;
    }
}

// A locale that folds more than ASCII must change nothing.
TEST(AsciiCaseTest, DoesNotDependOnTheLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    for (const char* name : {"C.UTF-8", "en_US.ISO-8859-1", "de_DE.ISO-8859-1"}) {
        if (!std::setlocale(LC_ALL, name)) {
            continue;
        }
        EXPECT_EQ(AsciiLower("\xC4Z"), "\xC4z") << name;
        EXPECT_FALSE(EqualsIgnoringAsciiCase("\xC4", "\xE4")) << name;
    }
    std::setlocale(LC_ALL, saved.c_str());
}

} // namespace
