#include "platform/AtomicFile.h"
#include "platform/ProfileString.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using platform::ReadProfileString;
using platform::WriteProfileString;
using testing_support::ModeOf;
using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::WriteFile;

namespace {

struct WriteCase {
    const char* name;
    std::optional<std::string> before; // none: no file yet
    std::string section, key, value;
    std::string after;
};

class ProfileWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(ProfileWrite, ChangesOnlyTheOneKey) {
    const WriteCase& c = GetParam();
    TempFolder folder;
    const std::string path = folder / "corvale.ini";
    if (c.before) {
        WriteFile(path, *c.before);
    }
    ASSERT_TRUE(WriteProfileString(path, c.section, c.key, c.value));
    EXPECT_EQ(ReadFile(path), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileWrite,
    ::testing::Values(
        WriteCase{"NewFile", std::nullopt, "Main", "id", "joe", "[Main]\nid=joe\n"},
        WriteCase{"EmptyFile", "", "Main", "id", "joe", "[Main]\nid=joe\n"},
        WriteCase{"EmptyValue", std::nullopt, "Main", "password", "", "[Main]\npassword=\n"},
        WriteCase{"NewSectionAtEnd", "[Main]\nid=joe\n", "Columns", "ip", "1,2",
                  "[Main]\nid=joe\n[Columns]\nip=1,2\n"},
        WriteCase{"NewSectionAfterLineWithoutEnding", "[Main]\r\nid=joe", "Columns", "ip", "1",
                  "[Main]\r\nid=joe\r\n[Columns]\r\nip=1\r\n"},
        WriteCase{"NewKeyAfterLastEntryOfItsSection", "[Main]\nid=joe\n\n\n[Columns]\nip=1\n",
                  "Main", "startup", "1", "[Main]\nid=joe\nstartup=1\n\n\n[Columns]\nip=1\n"},
        WriteCase{"NewKeyInEmptySection", "[Main]\n\n[Columns]\n", "Main", "id", "joe",
                  "[Main]\nid=joe\n\n[Columns]\n"},
        WriteCase{"NewKeyAtEndOfFileWithoutEnding", "[Main]\nid=joe", "Main", "x", "1",
                  "[Main]\nid=joe\nx=1\n"},
        WriteCase{"NewKeyGoesToFirstOfDuplicateSections", "[Main]\na=1\n[MAIN]\nb=2\n", "main", "c",
                  "3", "[Main]\na=1\nc=3\n[MAIN]\nb=2\n"},
        WriteCase{"ValueReplacedInPlaceKeepingSpelling", "[MAIN]\nID=old\nx=1\n", "Main", "id",
                  "new", "[MAIN]\nID=new\nx=1\n"},
        WriteCase{"ReplacementKeepsIndentAndSpacing", "[Main]\n  Id = old value  \n", "Main", "id",
                  "new", "[Main]\n  Id = new\n"},
        WriteCase{"ReplacementOfBlankValue", "[Main]\nid=   \n", "Main", "id", "joe",
                  "[Main]\nid=joe\n"},
        WriteCase{"ReplacementOfQuotedValue", "[Main]\nid=\"old\"\n", "Main", "id", "new",
                  "[Main]\nid=new\n"},
        WriteCase{"CrLfKeptAndUsedForNewLines", "[Main]\r\nid=old\r\n", "Main", "startup", "0",
                  "[Main]\r\nid=old\r\nstartup=0\r\n"},
        WriteCase{"CrAloneKeptAndUsedForNewLines", "[Main]\rid=old\r", "Columns", "ip", "1",
                  "[Main]\rid=old\r[Columns]\rip=1\r"},
        WriteCase{"LineWithoutEqualsIsNoKey", "[Main]\nid\n", "Main", "id", "joe",
                  "[Main]\nid\nid=joe\n"},
        WriteCase{"CommentedKeyIsNoKey", "[Main]\n;id=old\n", "Main", "id", "joe",
                  "[Main]\n;id=old\nid=joe\n"},
        WriteCase{"LeadingWhiteSpaceOfValueDropped", std::nullopt, "Main", "id", " \tjoe",
                  "[Main]\nid=joe\n"},
        WriteCase{"NamesTrimmed", std::nullopt, " Main ", "\tid ", "joe", "[Main]\nid=joe\n"},
        WriteCase{"OtherBytesUntouched",
                  "; header\r\nloose=1\r\n[Other]\r\nUnknown = keep ; me\r\n\r\n[Main]\r\n"
                  "  ; inner\r\nid=old\r\n\xE9t\xE9=\xFF\r\n",
                  "Main", "id", "new",
                  "; header\r\nloose=1\r\n[Other]\r\nUnknown = keep ; me\r\n\r\n[Main]\r\n"
                  "  ; inner\r\nid=new\r\n\xE9t\xE9=\xFF\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileWriteFile, ValueReadsBackAfterWrite) {
    TempFolder folder;
    const std::string path = folder / "corvale.ini";
    ASSERT_TRUE(WriteProfileString(path, "Main", "service", "127.0.0.1:8080"));
    ASSERT_TRUE(WriteProfileString(path, "Main", "id", "joe"));
    EXPECT_EQ(ReadProfileString(path, "main", "SERVICE", ""), "127.0.0.1:8080");
    EXPECT_EQ(ReadProfileString(path, "Main", "id", ""), "joe");
}

TEST(ProfileWriteFile, StoredValueLeavesTheFileUntouched) {
    TempFolder folder;
    const std::string path = folder / "corvale.ini";
    WriteFile(path, "[Main]\nstartup=0\n");
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    ASSERT_TRUE(WriteProfileString(path, "MAIN", "Startup", "0"));
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino); // a write would have renamed a new file in
}

TEST(ProfileWriteFile, NewFileReadableByOwnerAloneWhateverTheUmask) {
    TempFolder folder;
    const std::string path = folder / "corvale.ini";
    const mode_t oldMask = ::umask(0);
    const bool written = WriteProfileString(path, "Main", "password", "c2VjcmV0");
    ::umask(oldMask);
    ASSERT_TRUE(written);
    EXPECT_EQ(ModeOf(path), 0600u);
}

TEST(ProfileWriteFile, ExistingFileKeepsItsMode) {
    TempFolder folder;
    const std::string path = folder / "corvale.ini";
    WriteFile(path, "[Main]\n");
    ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
    ASSERT_TRUE(WriteProfileString(path, "Main", "id", "joe"));
    EXPECT_EQ(ModeOf(path), 0664u);
}

TEST(ProfileWriteFile, SymbolicLinkStaysAndItsTargetChanges) {
    TempFolder folder;
    const std::string target = folder / "real.ini";
    const std::string link = folder / "corvale.ini";
    WriteFile(target, "[Main]\nid=old\n");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ASSERT_TRUE(WriteProfileString(link, "Main", "id", "new"));
    struct stat info {};
    ASSERT_EQ(::lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(ReadFile(target), "[Main]\nid=new\n");
}

TEST(ProfileWriteFile, MissingFolderFailsAndCreatesNothing) {
    TempFolder folder;
    const std::string path = folder / "absent/corvale.ini";
    EXPECT_FALSE(WriteProfileString(path, "Main", "id", "joe"));
    EXPECT_FALSE(ReadFile(path));
}

TEST(ProfileWriteFile, FolderInPlaceOfTheFileFails) {
    TempFolder folder;
    const std::string path = folder / "corvale.ini";
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    EXPECT_FALSE(WriteProfileString(path, "Main", "id", "joe"));
}

struct RefusedCase {
    const char* name;
    std::string section, key, value;
};

class ProfileWriteRefused : public ::testing::TestWithParam<RefusedCase> {};

// Such names or values would come back as something else, or inject lines into the file.
TEST_P(ProfileWriteRefused, LeavesTheFileAlone) {
    const RefusedCase& c = GetParam();
    TempFolder folder;
    const std::string path = folder / "corvale.ini";
    const std::string before = "[Main]\nid=joe\n";
    WriteFile(path, before);
    EXPECT_FALSE(WriteProfileString(path, c.section, c.key, c.value));
    EXPECT_EQ(ReadFile(path), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileWriteRefused,
    ::testing::Values(RefusedCase{"EmptySection", " ", "id", "x"},
                      RefusedCase{"EmptyKey", "Main", "", "x"},
                      RefusedCase{"LineBreakInValue", "Main", "id", "x\n[Main]\npassword=y"},
                      RefusedCase{"CarriageReturnInValue", "Main", "id", "x\ry"},
                      RefusedCase{"ZeroByteInValue", "Main", "id", std::string("x\0y", 3)},
                      RefusedCase{"LineBreakInKey", "Main", "i\nd", "x"},
                      RefusedCase{"BracketInSection", "Ma]in", "id", "x"},
                      RefusedCase{"EqualsInKey", "Main", "i=d", "x"},
                      RefusedCase{"KeyLikeComment", "Main", ";id", "x"},
                      RefusedCase{"KeyLikeSection", "Main", "[id]", "x"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
