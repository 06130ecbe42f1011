// Where the settings file lives, seen by an ordinary user: a portable copy keeps it beside the
// program, a system-wide install in the user's configuration folder.

#include "core/uCfg.h"
#include "platform/ProfileString.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"

#include <array>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

using testing_support::GiveToUnprivileged;
using testing_support::ModeOf;
using testing_support::ReadFile;
using testing_support::RunInChild;
using testing_support::TempFolder;
using testing_support::WriteFile;

// Runs `body` as an ordinary user in a forked child and returns the text it reports.
std::optional<std::string> ReportFromUnprivilegedChild(const std::function<std::string()>& body) {
    std::array<int, 2> pipeEnds{};
    if (::pipe(pipeEnds.data()) != 0) {
        return std::nullopt;
    }
    const auto result = RunInChild(
        [&] {
            ::close(pipeEnds[0]);
            const std::string report = body();
            const bool written = ::write(pipeEnds[1], report.data(), report.size()) ==
                                 static_cast<ssize_t>(report.size());
            return written ? 0 : 1;
        },
        /*unprivileged=*/true);
    ::close(pipeEnds[1]);
    std::string report;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
        report.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeEnds[0]);
    if (!result.exited || result.exitCode != 0) {
        return std::nullopt;
    }
    return report;
}

void SetEnv(const char* name, const std::optional<std::string>& value) {
    value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
}

// A program folder the ordinary user may not write (as /usr/bin), one it may write (a
// portable copy in the user's own folder), and that user's home.
class SettingsLocationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::chmod(root_.Path().c_str(), 0755); // the ordinary user must reach what is inside
        std::filesystem::create_directory(systemBin_);
        ::chmod(systemBin_.c_str(), 0755);
        std::filesystem::create_directory(portableBin_);
        std::filesystem::create_directory(home_);
        ASSERT_TRUE(GiveToUnprivileged(portableBin_));
        ASSERT_TRUE(GiveToUnprivileged(home_));
    }

    TempFolder root_;
    const std::string systemBin_ = root_ / "usr-bin";
    const std::string portableBin_ = root_ / "portable";
    const std::string home_ = root_ / "home";
};

TEST_F(SettingsLocationTest, ChosenByTheProgramFolderAndTheEnvironment) {
    std::filesystem::create_directory(root_ / "bin-with-ini");
    ::chmod((root_ / "bin-with-ini").c_str(), 0755);
    WriteFile(root_ / "bin-with-ini/corvale.ini", "[Main]\n");

    struct Case {
        const char* what;
        std::string programFolder;
        std::optional<std::string> configHome; // XDG_CONFIG_HOME
        std::optional<std::string> home;       // HOME
        std::string expected;
    };
    const Case cases[] = {
        {"portable copy in a folder the user may write", portableBin_, home_ + "/cfg", home_,
         portableBin_ + "/corvale.ini"},
        {"a settings file beside the program is kept even when the folder is closed",
         root_ / "bin-with-ini", home_ + "/cfg", home_, root_ / "bin-with-ini/corvale.ini"},
        {"system-wide install: the configuration home", systemBin_, home_ + "/cfg", home_,
         home_ + "/cfg/corvale/corvale.ini"},
        {"a trailing slash on the configuration home", systemBin_, home_ + "/cfg/", home_,
         home_ + "/cfg/corvale/corvale.ini"},
        {"no configuration home: ~/.config", systemBin_, std::nullopt, home_,
         home_ + "/.config/corvale/corvale.ini"},
        {"a relative configuration home is ignored", systemBin_, std::string("cfg"), home_,
         home_ + "/.config/corvale/corvale.ini"},
        {"an empty configuration home is ignored", systemBin_, std::string(), home_,
         home_ + "/.config/corvale/corvale.ini"},
    };
    for (const Case& c : cases) {
        const auto location = ReportFromUnprivilegedChild([&] {
            SetEnv("XDG_CONFIG_HOME", c.configHome);
            SetEnv("HOME", c.home);
            InitCfg(c.programFolder + "/corvale", "PC");
            return Cfg.IniFile + "|" + SettingsFileLocation(c.programFolder + "/");
        });
        ASSERT_TRUE(location) << c.what << ": the child could not run as an ordinary user";
        EXPECT_EQ(*location, c.expected + "|" + c.expected) << c.what;
    }
}

TEST_F(SettingsLocationTest, ASystemWideInstallCreatesAPrivateFolderAndCanWriteThere) {
    const std::string configHome = home_ + "/not-yet/cfg";
    const auto report = ReportFromUnprivilegedChild([&] {
        ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
        InitCfg(systemBin_ + "/corvale", "PC");
        PrepareSettingsFolder();
        const bool written = platform::WriteProfileString(Cfg.IniFile, "Main", "startup", "0");
        return Cfg.IniFile + (written ? " written" : " refused");
    });
    ASSERT_TRUE(report) << "the child could not run as an ordinary user";
    EXPECT_EQ(*report, configHome + "/corvale/corvale.ini written");
    EXPECT_EQ(ReadFile(configHome + "/corvale/corvale.ini"), "[Main]\nstartup=0\n");
    for (const std::string& folder : {home_ + "/not-yet", configHome, configHome + "/corvale"}) {
        EXPECT_EQ(ModeOf(folder), 0700u) << folder;
    }
    EXPECT_FALSE(std::filesystem::exists(systemBin_ + "/corvale.ini"));
}

TEST_F(SettingsLocationTest, StartUpRemovesOnlyOldTemporaryFilesOfTheSettingsFile) {
    const std::string folder = home_ + "/cfg/corvale";
    std::filesystem::create_directories(folder);
    ASSERT_TRUE(GiveToUnprivileged(home_ + "/cfg"));
    ASSERT_TRUE(GiveToUnprivileged(folder));
    const std::string stale = folder + "/.corvale.ini.Ab3xYz";
    const std::string fresh = folder + "/.corvale.ini.Qw9rTy";
    WriteFile(stale, "[Main]\npassword=secret\n");
    WriteFile(fresh, "[Main]\n");
    ASSERT_TRUE(GiveToUnprivileged(stale));
    ASSERT_TRUE(GiveToUnprivileged(fresh));
    const timespec twoMinutesAgo[2] = {{::time(nullptr) - 120, 0}, {::time(nullptr) - 120, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, stale.c_str(), twoMinutesAgo, 0), 0);

    const auto report = ReportFromUnprivilegedChild([&] {
        ::setenv("XDG_CONFIG_HOME", (home_ + "/cfg").c_str(), 1);
        InitCfg(systemBin_ + "/corvale", "PC");
        PrepareSettingsFolder();
        return Cfg.IniFile;
    });
    ASSERT_TRUE(report);
    EXPECT_FALSE(std::filesystem::exists(stale)) << "left by an interrupted write";
    EXPECT_TRUE(std::filesystem::exists(fresh)) << "a write may still be under way";
}

} // namespace
