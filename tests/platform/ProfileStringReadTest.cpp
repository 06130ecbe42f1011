#include "platform/ProfileString.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>

using platform::ReadProfileString;
using testing_support::TempFolder;
using testing_support::WriteFile;

namespace {

struct ReadCase {
    const char* name;
    std::optional<std::string> file; // none: no file at all
    std::string section, key, defaultValue, expected;
};

class ProfileRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ProfileRead, ReadsAsTheSystemFunctionDoes) {
    const ReadCase& c = GetParam();
    TempFolder folder;
    const std::string path = folder / "corvale.ini";
    if (c.file) {
        WriteFile(path, *c.file);
    }
    EXPECT_EQ(ReadProfileString(path, c.section, c.key, c.defaultValue), c.expected);
}

const std::string kLongValue(3000, 'v');

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileRead,
    ::testing::Values(
        ReadCase{"NoFile", std::nullopt, "Main", "id", "dflt", "dflt"},
        ReadCase{"NoSection", "[Other]\nid=x\n", "Main", "id", "dflt", "dflt"},
        ReadCase{"NoKey", "[Main]\nname=x\n", "Main", "id", "dflt", "dflt"},
        ReadCase{"Plain", "[Main]\nid=joe\n", "Main", "id", "", "joe"},
        ReadCase{"SpacesAroundKeyAndValue", "[Main]\n  id  =  joe smith  \n", "Main", "id", "",
                 "joe smith"},
        ReadCase{"CaseOfNames", "[mAIN]\nID=joe\n", "Main", "id", "", "joe"},
        ReadCase{"CallerNamesTrimmed", "[Main]\nid=joe\n", " Main\t", "\x1A id ", "", "joe"},
        ReadCase{"SectionNameTrimmedAndTailIgnored", "[ Main ] ; note\nid=joe\n", "Main", "id", "",
                 "joe"},
        ReadCase{"CrLfEndings", "[Main]\r\nid=joe\r\nx=1\r\n", "Main", "id", "", "joe"},
        ReadCase{"CrAloneEndings", "[Main]\rid=joe\rx=1\r", "Main", "x", "", "1"},
        ReadCase{"LastLineWithoutEnding", "[Main]\nid=joe", "Main", "id", "", "joe"},
        ReadCase{"DoubleQuotesRemoved", "[Main]\nid=\" joe \"\n", "Main", "id", "", " joe "},
        ReadCase{"SingleQuotesRemoved", "[Main]\nid='joe'\n", "Main", "id", "", "joe"},
        ReadCase{"OneQuoteKept", "[Main]\nid=\"\n", "Main", "id", "", "\""},
        ReadCase{"MismatchedQuotesKept", "[Main]\nid=\"joe'\n", "Main", "id", "", "\"joe'"},
        ReadCase{"SemicolonInValueIsNoComment", "[Main]\nid=v ; note\n", "Main", "id", "",
                 "v ; note"},
        ReadCase{"CommentLineIsNoKey", "[Main]\n;id=x\n", "Main", "id", "dflt", "dflt"},
        ReadCase{"LineWithoutEqualsIsNoKey", "[Main]\nid\n", "Main", "id", "dflt", "dflt"},
        ReadCase{"EmptyValueIsNotDefault", "[Main]\nid=\n", "Main", "id", "dflt", ""},
        ReadCase{"FirstSectionWins", "[Main]\na=1\n[main]\nid=second\n", "Main", "id", "dflt",
                 "dflt"},
        ReadCase{"FirstKeyWins", "[Main]\nid=first\nID=second\n", "Main", "id", "", "first"},
        ReadCase{"KeysBeforeAnySectionBelongToNone", "id=loose\n[Main]\n", "Main", "id", "dflt",
                 "dflt"},
        ReadCase{"KeyOfAnotherSection", "[Main]\n[Columns]\nid=x\n", "Main", "id", "dflt", "dflt"},
        ReadCase{"DefaultLosesTrailingBlanksOnly", std::nullopt, "Main", "id", "  dflt  ",
                 "  dflt"},
        ReadCase{"ValueCutTo2047", "[Main]\nid=" + kLongValue + "\n", "Main", "id", "",
                 std::string(2047, 'v')}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
