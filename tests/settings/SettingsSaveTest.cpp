// Saving the Options page, start with the system, and what a failing step leaves behind.

#include "SettingsFixture.h"
#include "platform/AtomicFile.h"
#include "platform/RunValue.h"
#include "settings/uIniFile.h"
#include "tests/support/ChildProcess.h"
#include "util/Lib1.h"
#include "util/uBase64.h"

#include <csignal>
#include <sys/stat.h>

using namespace testing_support;

namespace {

TOptionsPage Page(std::string interval) {
    TOptionsPage page;
    page.ID = "joe";
    page.Password = "secret";
    page.CheckIntervalText = std::move(interval);
    page.Startup = true;
    page.StartHidden = false;
    page.MinToTray = true;
    page.StayOnTop = true;
    return page;
}

TEST_F(SettingsTest, SaveWritesEveryKeyInItsOrder) {
    ApplyOptions(env_, settings_, Page("120"));

    const std::string stored = ScramblePassword("secret");
    EXPECT_EQ(File(), "[Main]\n"
                      "id=joe\n"
                      "password=" +
                          stored +
                          "\n"
                          "check_interval=120\n"
                          "startup=1\n"
                          "start_hidden=0\n"
                          "min_to_tray=1\n"
                          "stay_on_top=1\n"
                          "notify_change=1\n"
                          "service=\n");
    EXPECT_EQ(account_.UserID.Load(), "joe");
    EXPECT_EQ(account_.Password.Load(), stored);
    EXPECT_EQ(settings_, (TSettings{120, true, false, true, true}));
    EXPECT_EQ(effects_, (std::vector<std::string>{"timer 120000", "topmost"}));
    EXPECT_EQ(ReadFile(entry_), platform::AutostartEntryText("Corvale", program_));
}

TEST_F(SettingsTest, SavedOptionsShowAgainAsTyped) {
    ApplyOptions(env_, settings_, Page("120"));
    TSettings loaded;
    TVars account;
    TSettingsEnv env{.IniFile = ini_, .ProgramPath = program_, .Account = account};
    LoadSettings(env, loaded, widths_);
    const TOptionsPage shown = OptionsFromSettings(loaded, account);
    EXPECT_EQ(shown.ID, "joe");
    EXPECT_EQ(shown.Password, "secret");
    EXPECT_EQ(shown.CheckIntervalText, "120");
    EXPECT_TRUE(shown.Startup);
    EXPECT_FALSE(shown.StartHidden);
    EXPECT_TRUE(shown.MinToTray);
    EXPECT_TRUE(shown.StayOnTop);
    EXPECT_EQ(shown.Service, "");
    EXPECT_TRUE(shown.NotifyChange);
}

struct ServiceFieldCase {
    const char* name;
    std::string typed;
    std::string stored; // the "service" line's value after Save
    TServiceEndpoint endpoint;
    std::string shownAgain;
};

class ServiceField : public SettingsTest, public ::testing::WithParamInterface<ServiceFieldCase> {};

TEST_P(ServiceField, IsSavedAndShownAgainInItsShortestForm) {
    const auto& c = GetParam();
    TOptionsPage page = Page("120");
    page.Service = c.typed;
    ApplyOptions(env_, settings_, page);
    EXPECT_EQ(ReadIniString(ini_, kSectionMain, kKeyService, "missing"), c.stored);
    EXPECT_EQ(settings_.Service, c.endpoint);

    TSettings loaded;
    TVars account;
    TSettingsEnv env{.IniFile = ini_, .ProgramPath = program_, .Account = account};
    LoadSettings(env, loaded, widths_);
    EXPECT_EQ(loaded.Service, c.endpoint);
    EXPECT_EQ(OptionsFromSettings(loaded, account).Service, c.shownAgain);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServiceField,
    ::testing::Values(
        ServiceFieldCase{"Empty", "", "", DefaultServiceEndpoint(), ""},
        ServiceFieldCase{"Blanks", " \t ", "", DefaultServiceEndpoint(), ""},
        ServiceFieldCase{"Host",
                         " tracker.example.org ",
                         "tracker.example.org",
                         {"tracker.example.org", 80},
                         "tracker.example.org"},
        ServiceFieldCase{
            "HostPort", "127.0.0.1:8080", "127.0.0.1:8080", {"127.0.0.1", 8080}, "127.0.0.1:8080"},
        ServiceFieldCase{"PlainScheme",
                         "http://127.0.0.1:80/",
                         "http://127.0.0.1:80/",
                         {"127.0.0.1", 80},
                         "127.0.0.1"},
        ServiceFieldCase{"Secure",
                         "https://tracker.example.org",
                         "https://tracker.example.org",
                         {"tracker.example.org", 443, true},
                         "https://tracker.example.org"},
        ServiceFieldCase{"SecurePort",
                         "https://127.0.0.1:8443",
                         "https://127.0.0.1:8443",
                         {"127.0.0.1", 8443, true},
                         "https://127.0.0.1:8443"},
        ServiceFieldCase{"BuiltInByName", "service.corvale.example", "service.corvale.example",
                         DefaultServiceEndpoint(), ""}),
    [](const auto& info) { return std::string(info.param.name); });

class RefusedServiceField : public SettingsTest,
                            public ::testing::WithParamInterface<std::string> {};

TEST_P(RefusedServiceField, StopsTheSaveBeforeAnythingIsStored) {
    GivenFile("[Main]\nid=old\nservice=127.0.0.1:8081\n");
    TOptionsPage page = Page("120");
    page.Service = GetParam();
    try {
        ApplyOptions(env_, settings_, page);
        FAIL() << "no error for " << GetParam();
    } catch (const EServiceFormError& error) {
        EXPECT_NE(std::string(error.what()).find("HOST:PORT"), std::string::npos);
    }
    EXPECT_EQ(File(), "[Main]\nid=old\nservice=127.0.0.1:8081\n");
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusedServiceField,
                         ::testing::Values("ftp://host", "host:0", "host:65536", "host:port",
                                           "https://", "two words", "host/path/more"));

TEST_F(SettingsTest, NotifyChangeIsOnUnlessTheFileSaysZero) {
    for (const auto& [file, expected] :
         std::vector<std::pair<std::string, bool>>{{"[Main]\n", true},
                                                   {"[Main]\nnotify_change=1\n", true},
                                                   {"[Main]\nnotify_change=0\n", false}}) {
        GivenFile(file);
        TSettings loaded;
        loaded.NotifyChange = !expected;
        LoadSettings(env_, loaded, widths_);
        EXPECT_EQ(loaded.NotifyChange, expected) << file;
    }
}

struct IntervalTextCase {
    const char* name;
    std::string text;
    std::int32_t stored;
};

class IntervalText : public SettingsTest, public ::testing::WithParamInterface<IntervalTextCase> {};

TEST_P(IntervalText, IsCorrectedByTheRule) {
    ApplyOptions(env_, settings_, Page(GetParam().text));
    EXPECT_EQ(ReadIniString(ini_, "Main", "check_interval", ""), std::to_string(GetParam().stored));
    EXPECT_EQ(settings_.CheckInterval, GetParam().stored);
    EXPECT_EQ(effects_.front(), "timer " + std::to_string(GetParam().stored * 1000));
}

INSTANTIATE_TEST_SUITE_P(Cases, IntervalText,
                         ::testing::Values(IntervalTextCase{"Thirty", "30", 900},
                                           IntervalTextCase{"Empty", "", 900},
                                           IntervalTextCase{"DigitsAndLetter", "12a", 900},
                                           IntervalTextCase{"Negative", "-5", 900},
                                           IntervalTextCase{"Valid", "120", 120},
                                           IntervalTextCase{"Blanks", " 120 ", 120}),
                         [](const auto& info) { return std::string(info.param.name); });

class BadIntervalText : public SettingsTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(BadIntervalText, StopsTheSaveAfterTheAccount) {
    try {
        ApplyOptions(env_, settings_, Page(GetParam()));
        FAIL() << "no error raised";
    } catch (const EConvertError& e) {
        EXPECT_EQ(std::string(e.what()), "'" + GetParam() + "' is not a valid integer value");
    }
    EXPECT_EQ(File(), "[Main]\nid=joe\npassword=" + ScramblePassword("secret") + "\n");
    EXPECT_EQ(settings_, TSettings{});
    EXPECT_TRUE(effects_.empty());
    EXPECT_FALSE(RunValueExists());
}

INSTANTIATE_TEST_SUITE_P(Cases, BadIntervalText, ::testing::Values("1,000", "5-"));

TEST_F(SettingsTest, IntervalAboveTheTimerLimitIsStoredButTimedAtTheLimit) {
    SetCheckInterval(env_, settings_, 5000000);
    EXPECT_EQ(settings_.CheckInterval, 5000000);
    EXPECT_EQ(ReadIniString(ini_, "Main", "check_interval", ""), "5000000");
    EXPECT_EQ(effects_, std::vector<std::string>{"timer 4294967000"});
}

TEST_F(SettingsTest, PasswordIsStoredScrambledOrEmpty) {
    SetAccount(env_, "joe", "");
    EXPECT_EQ(File(), "[Main]\nid=joe\npassword=\n");
    EXPECT_EQ(account_.Password.Load(), "");

    SetAccount(env_, "joe", "my secret");
    const std::string stored = ScramblePassword("my secret");
    EXPECT_NE(stored, "my secret");
    EXPECT_EQ(File(), "[Main]\nid=joe\npassword=" + stored + "\n");
    EXPECT_EQ(File().find("my secret"), std::string::npos);
    EXPECT_EQ(account_.Password.Load(), stored);
}

TEST_F(SettingsTest, StartupWritesAndRemovesTheRunValue) {
    SetStartup(env_, settings_, true);
    EXPECT_TRUE(settings_.Startup);
    const auto entry = ReadFile(entry_);
    ASSERT_TRUE(entry);
    EXPECT_NE(entry->find("\nExec=\"/opt/my apps/corvale\"\n"), std::string::npos);
    EXPECT_EQ(File(), "[Main]\nstartup=1\n");

    SetStartup(env_, settings_, false);
    EXPECT_FALSE(RunValueExists());
    EXPECT_EQ(File(), "[Main]\nstartup=0\n");
    EXPECT_NO_THROW(SetStartup(env_, settings_, false)) << "removing an absent value is silent";
}

TEST_F(SettingsTest, RunValueFailureStopsTheSaveAtThatStep) {
    WriteFile(temp_ / "config", "a file where the folder should be");
    try {
        ApplyOptions(env_, settings_, Page("120"));
        FAIL() << "no error raised";
    } catch (const platform::ERegistryError& e) {
        EXPECT_STREQ(e.what(), "Not a directory");
    }
    EXPECT_EQ(File(),
              "[Main]\nid=joe\npassword=" + ScramblePassword("secret") + "\ncheck_interval=120\n");
    EXPECT_TRUE(settings_.Startup) << "the field was set before the failing step";
    EXPECT_TRUE(settings_.StartHidden) << "later steps did not run";
    EXPECT_EQ(effects_, std::vector<std::string>{"timer 120000"});
}

TEST_F(SettingsTest, RunValueFailureAtStartupSkipsStayOnTop) {
    GivenFile("[Main]\nstay_on_top=1\n");
    WriteFile(temp_ / "config", "a file where the folder should be");
    EXPECT_THROW(LoadSettingsAtStartup(env_, settings_, widths_), platform::ERegistryError);
    EXPECT_EQ(effects_, std::vector<std::string>{"timer 900000"});
    EXPECT_EQ(File(), "[Main]\nstay_on_top=1\n");
}

TEST_F(SettingsTest, HandWrittenFileKeepsEverythingElse) {
    GivenFile("; Corvale settings, edited by hand\r\n"
              "[General]\r\n"
              "theme = dark\r\n"
              "\r\n"
              "[MAIN]\r\n"
              "ID = old\r\n"
              "Check_Interval=0x78\r\n"
              "active=1\r\n"
              "service=127.0.0.1:8081\r\n"
              "; keep me\r\n"
              "\r\n"
              "[columns]\r\n"
              "IP=10,20\r\n");

    LoadSettingsAtStartup(env_, settings_, widths_);
    EXPECT_EQ(account_.UserID.Load(), "old");
    EXPECT_EQ(settings_.CheckInterval, 120);
    EXPECT_EQ(settings_.Service, (TServiceEndpoint{"127.0.0.1", 8081}));
    EXPECT_EQ(widths_.IP, (TColumnWidths{10, 20, 140}));

    TOptionsPage page = Page("300");
    page.Startup = false;
    page.Service = ServiceFieldText(settings_.Service);
    page.NotifyChange = false;
    ApplyOptions(env_, settings_, page);
    SaveColumns(env_, widths_);

    EXPECT_EQ(File(), "; Corvale settings, edited by hand\r\n"
                      "[General]\r\n"
                      "theme = dark\r\n"
                      "\r\n"
                      "[MAIN]\r\n"
                      "ID = joe\r\n"
                      "Check_Interval=300\r\n"
                      "active=1\r\n"
                      "service=127.0.0.1:8081\r\n"
                      "; keep me\r\n"
                      "startup=0\r\n"
                      "stay_on_top=1\r\n"
                      "password=" +
                          ScramblePassword("secret") +
                          "\r\n"
                          "start_hidden=0\r\n"
                          "min_to_tray=1\r\n"
                          "notify_change=0\r\n"
                          "\r\n"
                          "[columns]\r\n"
                          "IP=10,20,140\r\n"
                          "buddies=32,95,130,95,140\r\n");
}

// The page shows no update keys, so a Save, whichever service it stores, keeps trusting the
// keys the file names; with only keys configured, the field still shows the built-in service.
TEST_F(SettingsTest, SavingTheOptionsKeepsTheTrustedUpdateKeys) {
    for (const char* service : {"", "127.0.0.1:8081", "https://tracker.lan"}) {
        SCOPED_TRACE(service);
        GivenFile("[Main]\nupdate_key=RWSkeyA,RWSkeyB\n");
        LoadSettingsAtStartup(env_, settings_, widths_);
        EXPECT_EQ(ServiceFieldText(settings_.Service), "");

        TOptionsPage page = Page("120");
        page.Service = service;
        ApplyOptions(env_, settings_, page);
        EXPECT_EQ(settings_.Service.UpdateKeys, "RWSkeyA,RWSkeyB");
        EXPECT_EQ(ServiceFieldText(settings_.Service), service);
    }
}

TEST_F(SettingsTest, CrashDuringASaveKeepsEveryCompletedWrite) {
    GivenFile("[Main]\nid=old\npassword=oldpw\n");
    const ChildResult result = RunInChild([&] {
        int writes = 0;
        platform::SetBeforeReplaceHookForTests([&](const std::string&) {
            if (++writes == 2) {
                ::raise(SIGKILL); // while the password is being written
            }
        });
        SetAccount(env_, "new", "secret");
        return 0;
    });
    EXPECT_EQ(result.signal, SIGKILL);
    LoadSettings(env_, settings_, widths_);
    EXPECT_EQ(account_.UserID.Load(), "new");
    EXPECT_EQ(account_.Password.Load(), "oldpw");
}

struct RefusalCase {
    const char* name;
    bool fileExists;
    mode_t folderMode, fileMode;
};

class RefusedWrite : public ::testing::TestWithParam<RefusalCase> {};

// Runs as an ordinary user: the superuser would pass every permission check.
TEST_P(RefusedWrite, RaisesUnableToWriteAndLeavesTheFile) {
    const RefusalCase& c = GetParam();
    TempFolder temp;
    const std::string folder = FolderForUnprivilegedChild(temp.Path());
    ASSERT_FALSE(folder.empty());
    const std::string ini = folder + "/corvale.ini";
    const std::string before = "[Main]\nid=old\nstart_hidden=1\n";
    if (c.fileExists) {
        ASSERT_TRUE(WriteFileForUnprivilegedChild(ini, before, c.fileMode));
    }
    ASSERT_EQ(::chmod(folder.c_str(), c.folderMode), 0);

    const ChildResult result = RunInChild(
        [&] {
            TVars account;
            TSettings settings;
            const TSettingsEnv env{.IniFile = ini, .ProgramPath = "/x", .Account = account};
            try {
                SetStartHidden(env, settings, false);
                return 1;
            } catch (const EWriteError& e) {
                return e.what() == "Unable to write to " + ini ? 0 : 2;
            } catch (...) {
                return 3;
            }
        },
        true);
    if (result.cannotDrop) {
        GTEST_SKIP() << "cannot switch to an unprivileged user here";
    }
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 0) << "1: written, 2: other text, 3: other error";
    EXPECT_EQ(ReadFile(ini), c.fileExists ? std::optional(before) : std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusedWrite,
                         ::testing::Values(RefusalCase{"ReadOnlyFolder", true, 0555, 0644},
                                           RefusalCase{"ReadOnlyFolderWithoutFile", false, 0555, 0},
                                           RefusalCase{"FileWithoutWritePermission", true, 0755,
                                                       0444}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
