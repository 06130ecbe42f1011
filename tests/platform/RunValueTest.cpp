#include "platform/RunValue.h"

#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/stat.h>

using namespace platform;
using testing_support::ModeOf;
using testing_support::ReadFile;
using testing_support::ScopedEnv;
using testing_support::TempFolder;
using testing_support::WriteFile;

namespace {

struct QuoteCase {
    std::string argument, expected;
};

class ExecQuoting : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(ExecQuoting, FollowsTheDesktopEntryRules) {
    EXPECT_EQ(QuoteExecArgument(GetParam().argument), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExecQuoting,
    ::testing::Values(QuoteCase{"/opt/corvale/corvale", "/opt/corvale/corvale"},
                      QuoteCase{"/opt/my app/corvale", "\"/opt/my app/corvale\""},
                      QuoteCase{"/opt/a;b", "\"/opt/a;b\""},
                      QuoteCase{"/opt/it's", "\"/opt/it's\""},
                      QuoteCase{"/home/~x/(1)", "\"/home/~x/(1)\""},
                      // Inside quotes " ` $ \ take a backslash; the string escape then doubles
                      // every backslash, so a literal one is written as four.
                      QuoteCase{"/opt/a\"b", "\"/opt/a\\\\\"b\""},
                      QuoteCase{"/opt/$HOME/`x`", "\"/opt/\\\\$HOME/\\\\`x\\\\`\""},
                      QuoteCase{"/opt/a\\b", "\"/opt/a\\\\\\\\b\""},
                      QuoteCase{"/opt/100%/x", "/opt/100%%/x"},
                      QuoteCase{"/opt/new\nline", "\"/opt/new\\nline\""}, QuoteCase{"", "\"\""}));

class RunValueTest : public ::testing::Test {
protected:
    TempFolder temp_;
    ScopedEnv configHome_{"XDG_CONFIG_HOME", temp_ / "config"};
    const std::string entry_ = temp_ / "config/autostart/Corvale.desktop";
};

TEST_F(RunValueTest, WriteCreatesTheEntryWithTheFullPath) {
    WriteRegValue("Corvale", "/opt/my apps/corvale");
    EXPECT_EQ(AutostartEntryPath("Corvale"), entry_);
    EXPECT_EQ(ReadFile(entry_), "[Desktop Entry]\n"
                                "Type=Application\n"
                                "Name=Corvale\n"
                                "Exec=\"/opt/my apps/corvale\"\n"
                                "Terminal=false\n"
                                "X-GNOME-Autostart-enabled=true\n");
    EXPECT_EQ(ModeOf(entry_), 0644u);
    EXPECT_EQ(ModeOf(temp_ / "config/autostart"), 0700u);
    EXPECT_EQ(ModeOf(temp_ / "config"), 0700u);
}

TEST_F(RunValueTest, WriteReplacesAnEntryForAMovedProgram) {
    WriteRegValue("Corvale", "/old/corvale");
    WriteRegValue("Corvale", "/new/corvale");
    const auto text = ReadFile(entry_);
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("\nExec=/new/corvale\n"), std::string::npos);
    EXPECT_EQ(text->find("/old/"), std::string::npos);
}

TEST_F(RunValueTest, DeleteRemovesTheEntryAndAnAbsentOneIsSilent) {
    EXPECT_NO_THROW(DeleteRegValue("Corvale")); // neither entry nor folder exists
    WriteRegValue("Corvale", "/opt/corvale/corvale");
    WriteFile(temp_ / "config/autostart/other.desktop", "[Desktop Entry]\n");
    DeleteRegValue("Corvale");
    EXPECT_FALSE(ReadFile(entry_));
    EXPECT_TRUE(ReadFile(temp_ / "config/autostart/other.desktop"));
    EXPECT_NO_THROW(DeleteRegValue("Corvale"));
}

TEST_F(RunValueTest, FailuresCarryTheSystemMessage) {
    WriteFile(temp_ / "config", "a file where the folder should be");
    try {
        WriteRegValue("Corvale", "/opt/corvale/corvale");
        FAIL() << "no error raised";
    } catch (const ERegistryError& e) {
        EXPECT_STREQ(e.what(), "Not a directory");
        EXPECT_EQ(e.code(), std::errc::not_a_directory);
    }
    try {
        DeleteRegValue("Corvale");
        FAIL() << "no error raised";
    } catch (const ERegistryError& e) {
        EXPECT_STREQ(e.what(), "Not a directory");
    }
}

TEST_F(RunValueTest, NamesThatLeaveTheFolderAreRefused) {
    EXPECT_THROW(WriteRegValue("../Corvale", "/opt/corvale"), ERegistryError);
    EXPECT_THROW(DeleteRegValue("a/b"), ERegistryError);
    EXPECT_THROW(WriteRegValue("Corvale", ""), ERegistryError);
}

TEST(AutostartFolder, FallsBackToTheHomeFolder) {
    ScopedEnv home("HOME", "/home/someone");
    {
        ScopedEnv unset("XDG_CONFIG_HOME", std::nullopt);
        EXPECT_EQ(AutostartFolder(), "/home/someone/.config/autostart");
    }
    {
        ScopedEnv empty("XDG_CONFIG_HOME", "");
        EXPECT_EQ(AutostartFolder(), "/home/someone/.config/autostart");
    }
    {
        ScopedEnv relative("XDG_CONFIG_HOME", "relative/config");
        EXPECT_EQ(AutostartFolder(), "/home/someone/.config/autostart");
    }
    {
        ScopedEnv absolute("XDG_CONFIG_HOME", "/etc/cfg");
        EXPECT_EQ(AutostartFolder(), "/etc/cfg/autostart");
    }
}

} // namespace
