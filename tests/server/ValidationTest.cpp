#include "server/Validation.h"

#include "server/Version.h"

#include <gtest/gtest.h>

namespace {

using namespace server;

TEST(Validation, UserIds) {
    for (const char* good : {"jdoe", "J.Doe_2-x", "a", "abcdefghijklmnopqrstuvwxyz012345"}) {
        EXPECT_TRUE(IsValidUserId(good)) << good;
    }
    for (const std::string& bad :
         std::vector<std::string>{"", "abcdefghijklmnopqrstuvwxyz0123456", "j doe", "a,b", "a;b",
                                  "a&b", "a=b", "a+b", "<b>", "j\xC3\xA9"}) {
        EXPECT_FALSE(IsValidUserId(bad)) << bad;
    }
}

TEST(Validation, HostNames) {
    for (const std::string& good : std::vector<std::string>{
             "OFFICE-PC", "a", "host.example.org", "PC_2", "caf\xC3\xA9", std::string(255, 'h')}) {
        EXPECT_TRUE(IsValidHostName(good)) << good;
    }
    for (const std::string& bad :
         std::vector<std::string>{"", "A,B", "A;B", "A B", "A&B", "A=B", "A\tB", "A\nB",
                                  std::string("A\0B", 3), std::string(256, 'h')}) {
        EXPECT_FALSE(IsValidHostName(bad)) << bad;
    }
}

TEST(Validation, CleanTextIsWellFormedUtf8WithoutControls) {
    for (const std::string& good :
         std::vector<std::string>{"", "plain", "caf\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                                  "\xC2\xA0", "\xEF\xBF\xBD", "\xF4\x8F\xBF\xBF"}) {
        EXPECT_TRUE(IsCleanText(good)) << good;
    }
    const std::vector<std::pair<const char*, std::string>> bad = {
        {"the bytes of the issue", "\xFF\xFE\xC0"},
        {"a lone continuation byte", "a\x80"},
        {"a cut-off sequence", "caf\xC3"},
        {"an overlong slash", "\xC0\xAF"},
        {"an overlong three-byte form", "\xE0\x80\xAF"},
        {"a surrogate", "\xED\xA0\x80"},
        {"past U+10FFFF", "\xF4\x90\x80\x80"},
        {"a five-byte lead", "\xF8\x88\x80\x80\x80"},
        {"a line break", "a\nb"},
        {"a zero byte", std::string("a\0b", 3)},
        {"DEL", "a\x7F"},
        {"a C1 control (NEL)", "a\xC2\x85"},
    };
    for (const auto& [name, text] : bad) {
        EXPECT_FALSE(IsCleanText(text)) << name;
        EXPECT_FALSE(IsValidHostName("PC" + text)) << name;
    }
}

TEST(Validation, TypedPasswords) {
    EXPECT_TRUE(IsValidTypedPassword("p+ss w/rd="));
    EXPECT_TRUE(IsValidTypedPassword(std::string(128, 'p')));
    EXPECT_FALSE(IsValidTypedPassword(""));
    EXPECT_FALSE(IsValidTypedPassword(std::string(129, 'p')));
    EXPECT_FALSE(IsValidTypedPassword("a\nb"));
}

TEST(Validation, AddressReports) {
    for (const char* good : {"", "192.0.2.7", "0.0.0.0", "255.255.255.255"}) {
        EXPECT_TRUE(IsValidAddressReport(good)) << good;
    }
    for (const char* bad : {"1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.-4", "1.2.3.+4", "1..3.4",
                            "1.2.3.4 ", "a.b.c.d", "1.2.3.0004", "010.1.1.1", "::1", "1.2.3.4,5"}) {
        EXPECT_FALSE(IsValidAddressReport(bad)) << bad;
    }
}

TEST(Validation, HostNumberLists) {
    EXPECT_EQ(ParseHostNumbers("12,40"), (std::vector<std::int64_t>{12, 40}));
    EXPECT_EQ(ParseHostNumbers("7"), (std::vector<std::int64_t>{7}));
    for (const char* bad :
         {"", ",", "12,", ",12", "12,,40", "-1", "+1", "1 2", "x", "1.5", "99999999999999999999"}) {
        EXPECT_FALSE(ParseHostNumbers(bad)) << bad;
    }
    std::string many = "1";
    for (std::size_t i = 1; i < kMaxOfferedHosts; ++i) {
        many += ",1";
    }
    EXPECT_TRUE(ParseHostNumbers(many));
    EXPECT_FALSE(ParseHostNumbers(many + ",1"));
}

TEST(Version, ParsesFourNonNegativeNumbers) {
    EXPECT_EQ(ParseVersion("0.3.12.30"), (ProductVersion{0, 3, 12, 30}));
    EXPECT_EQ(ParseVersion("2147483647.0.0.0"), (ProductVersion{2147483647, 0, 0, 0}));
    for (const char* bad : {"", "0.3.12", "0.3.12.30.1", "0.3..30", "0.3.12.x", "0.-3.12.30",
                            "2147483648.0.0.0", "0.3.12.30 ", " 0.3.12.30"}) {
        EXPECT_FALSE(ParseVersion(bad)) << bad;
    }
}

TEST(Version, Texts) {
    const ProductVersion v{0, 3, 12, 30};
    EXPECT_EQ(VersionText(v), "0.3.12.30");
    EXPECT_EQ(VersionLines(v), "0\n3\n12\n30");
    EXPECT_EQ(VersionDisplay(v), "Corvale 0.3.12 (build 30)");
}

} // namespace
