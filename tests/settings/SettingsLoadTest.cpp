// What start-up reads and writes, and exit.

#include "SettingsFixture.h"
#include "platform/RunValue.h"
#include "util/Lib1.h"

#include <optional>

using testing_support::ModeOf;

namespace {

TEST_F(SettingsTest, NoFileGivesDefaultsAndStartupAndExitWriteOnlyTheirKeys) {
    platform::WriteRegValue("Corvale", "/somewhere/old/corvale"); // left from an earlier run

    LoadSettingsAtStartup(env_, settings_, widths_);

    EXPECT_EQ(account_.UserID.Load(), "");
    EXPECT_EQ(account_.Password.Load(), "");
    EXPECT_EQ(settings_, TSettings{});
    EXPECT_EQ(settings_.CheckInterval, 900);
    EXPECT_TRUE(settings_.StartHidden);
    EXPECT_EQ(widths_, DesignedListWidths());
    EXPECT_EQ(effects_, (std::vector<std::string>{"timer 900000", "normal"}));
    EXPECT_FALSE(RunValueExists());
    EXPECT_EQ(File(), "[Main]\nstartup=0\nstay_on_top=0\n");
    EXPECT_EQ(ModeOf(ini_), 0600u);

    SaveColumns(env_, widths_);
    EXPECT_EQ(File(), "[Main]\n"
                      "startup=0\n"
                      "stay_on_top=0\n"
                      "[Columns]\n"
                      "ip=32,100,140\n"
                      "buddies=32,95,130,95,140\n");
}

TEST_F(SettingsTest, StartupRegistersTheProgramAgainWhenStartupIsOn) {
    GivenFile("[Main]\nstartup=1\nstay_on_top=1\n");
    platform::WriteRegValue("Corvale", "/moved/from/here");
    LoadSettingsAtStartup(env_, settings_, widths_);
    EXPECT_TRUE(settings_.Startup);
    EXPECT_EQ(testing_support::ReadFile(entry_), platform::AutostartEntryText("Corvale", program_));
    EXPECT_EQ(effects_, (std::vector<std::string>{"timer 900000", "topmost"}));
    EXPECT_EQ(File(), "[Main]\nstartup=1\nstay_on_top=1\n");
}

struct IntervalCase {
    const char* name;
    std::string stored;
    std::int32_t loaded, afterRule;
};

class StoredInterval : public SettingsTest, public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(StoredInterval, LoadsAsIsAndTheRuleAppliesAtStartup) {
    const IntervalCase& c = GetParam();
    const std::string file = "[Main]\ncheck_interval=" + c.stored + "\n";
    GivenFile(file);
    LoadSettings(env_, settings_, widths_);
    EXPECT_EQ(settings_.CheckInterval, c.loaded);

    LoadSettingsAtStartup(env_, settings_, widths_);
    EXPECT_EQ(settings_.CheckInterval, c.afterRule);
    EXPECT_EQ(effects_.front(), "timer " + std::to_string(c.afterRule * 1000));
    EXPECT_NE(File().find("\ncheck_interval=" + c.stored + "\n"), std::string::npos)
        << "the corrected value is not written back";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoredInterval,
    ::testing::Values(
        IntervalCase{"Below60", "59", 59, 900}, IntervalCase{"Exactly60", "60", 60, 60},
        IntervalCase{"Hex", "0x78", 120, 120}, IntervalCase{"HexCapitalX", "0X78", 120, 120},
        IntervalCase{"Word", "abc", 900, 900}, IntervalCase{"Negative", "-5", -5, 900},
        IntervalCase{"Zero", "0", 0, 900}, IntervalCase{"PrefixOnly", "0x", 900, 900},
        IntervalCase{"HexAllBitsIsMinusOne", "0xFFFFFFFF", -1, 900},
        IntervalCase{"HexBeyond32Bits", "0x100000000", 900, 900},
        IntervalCase{"BeyondInt32", "2147483648", 900, 900}, IntervalCase{"Empty", "", 900, 900},
        IntervalCase{"Quoted", "\"300\"", 300, 300},
        IntervalCase{"TrailingJunk", "300s", 900, 900}),
    [](const auto& info) { return std::string(info.param.name); });

struct SwitchCase {
    const char* name;
    std::string file;
    bool startHidden, minToTray;
};

class StoredSwitches : public SettingsTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(StoredSwitches, AnyNonZeroIntegerIsTrue) {
    GivenFile(GetParam().file);
    LoadSettings(env_, settings_, widths_);
    EXPECT_EQ(settings_.StartHidden, GetParam().startHidden);
    EXPECT_EQ(settings_.MinToTray, GetParam().minToTray);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoredSwitches,
    ::testing::Values(
        SwitchCase{"Missing", "[Main]\n", true, false},
        SwitchCase{"Two", "[Main]\nstart_hidden=2\nmin_to_tray=2\n", true, true},
        SwitchCase{"Zero", "[Main]\nstart_hidden=0\nmin_to_tray=0\n", false, false},
        SwitchCase{"Negative", "[Main]\nstart_hidden=-1\nmin_to_tray=-1\n", true, true},
        SwitchCase{"Hex", "[Main]\nstart_hidden=0x0\nmin_to_tray=0x10\n", false, true},
        SwitchCase{"NotANumber", "[Main]\nstart_hidden=no\nmin_to_tray=yes\n", true, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct WidthCase {
    const char* name;
    std::string ip, buddies;
    TListWidths expected;
};

class StoredWidths : public SettingsTest, public ::testing::WithParamInterface<WidthCase> {};

TEST_P(StoredWidths, SetOnlyPositiveItemsOfExistingColumns) {
    GivenFile("[Columns]\nip=" + GetParam().ip + "\nbuddies=" + GetParam().buddies + "\n");
    LoadSettings(env_, settings_, widths_);
    EXPECT_EQ(widths_.IP, GetParam().expected.IP);
    EXPECT_EQ(widths_.Buddies, GetParam().expected.Buddies);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoredWidths,
    ::testing::Values(
        WidthCase{"ZeroKeepsDesigned", "0,200", "", {{32, 200, 140}, {32, 95, 130, 95, 140}}},
        WidthCase{"EmptyItemsSkipColumns", ",,300", "", {{32, 100, 300}, {32, 95, 130, 95, 140}}},
        WidthCase{
            "ExtraItemsIgnored", "10,20,30,40", "1,2,3,4,5,6", {{10, 20, 30}, {1, 2, 3, 4, 5}}},
        WidthCase{"NegativeAndWordsKeepDesigned",
                  "-4,abc, 50 ",
                  "1x,,7",
                  {{32, 100, 50}, {32, 95, 7, 95, 140}}},
        WidthCase{"TrailingSeparator", "40,", "", {{40, 100, 140}, {32, 95, 130, 95, 140}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsTest, BadWidthItemStopsLoadingAndKeepsWhatCameBefore) {
    GivenFile("[Main]\nid=joe\nstay_on_top=1\n[Columns]\nip=50,5-,70\nbuddies=1,2\n");
    try {
        LoadSettings(env_, settings_, widths_);
        FAIL() << "no error raised";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'5-' is not a valid integer value");
    }
    EXPECT_EQ(account_.UserID.Load(), "joe");
    EXPECT_TRUE(settings_.StayOnTop);
    EXPECT_EQ(widths_.IP, (TColumnWidths{50, 100, 140}));
    EXPECT_EQ(widths_.Buddies, DesignedListWidths().Buddies) << "the later list is not read";
}

TEST_F(SettingsTest, SavedColumnsHaveNoTrailingSeparatorAndLoadBack) {
    const TListWidths saved{{40, 110, 150}, {10, 20, 30, 40, 50}};
    SaveColumns(env_, saved);
    EXPECT_EQ(File(), "[Columns]\nip=40,110,150\nbuddies=10,20,30,40,50\n");
    LoadSettings(env_, settings_, widths_);
    EXPECT_EQ(widths_, saved);
}

TEST_F(SettingsTest, StoredPasswordIsCopiedUnchanged) {
    GivenFile("[Main]\nid=joe\npassword=readable\n");
    LoadSettings(env_, settings_, widths_);
    EXPECT_EQ(account_.Password.Load(), "readable");
}

struct ServiceCase {
    const char* name;
    std::string file;
    std::optional<TServiceEndpoint> stored;
};

class StoredService : public SettingsTest, public ::testing::WithParamInterface<ServiceCase> {};

TEST_P(StoredService, LoadsTheStoredEndpointAndLeavesTheClientAlone) {
    const ServiceCase& c = GetParam();
    GivenFile(c.file);
    SetServiceEndpoint({"stale.example", 1});
    settings_.Service = {"stale.example", 1};
    EXPECT_EQ(ReadServiceSetting(ini_), c.stored);
    LoadSettings(env_, settings_, widths_);
    EXPECT_EQ(settings_.Service, c.stored.value_or(TServiceEndpoint{
                                     std::string(kDefaultServiceHost), kDefaultServicePort}));
    EXPECT_EQ(ServiceEndpoint(), (TServiceEndpoint{"stale.example", 1}))
        << "the caller decides when the client uses it";
}

TEST_F(SettingsTest, TheEndpointIsLoadedBeforeABadWidthListStopsLoading) {
    GivenFile("[Main]\nservice=127.0.0.1:8080\n[Columns]\nip=5-\n");
    EXPECT_THROW(LoadSettingsAtStartup(env_, settings_, widths_), EConvertError);
    EXPECT_EQ(settings_.Service, (TServiceEndpoint{"127.0.0.1", 8080}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoredService,
    ::testing::Values(ServiceCase{"HostAndPort", "[Main]\nservice=127.0.0.1:8080\n",
                                  TServiceEndpoint{"127.0.0.1", 8080}},
                      ServiceCase{"HostAlone", "[main]\nSERVICE = tracker.example.org \n",
                                  TServiceEndpoint{"tracker.example.org", 80}},
                      ServiceCase{"Missing", "[Main]\nid=joe\n", std::nullopt},
                      ServiceCase{"Invalid", "[Main]\nservice=bad host\n", std::nullopt},
                      ServiceCase{"PortZero", "[Main]\nservice=host:0\n", std::nullopt},
                      ServiceCase{"Secure", "[Main]\nservice=https://tracker.example.org\n",
                                  TServiceEndpoint{"tracker.example.org", 443, true}},
                      ServiceCase{"SecureWithAuthority",
                                  "[Main]\nservice=https://127.0.0.1:8443\nca_file=/etc/ca.pem\n",
                                  TServiceEndpoint{"127.0.0.1", 8443, true, "/etc/ca.pem"}},
                      ServiceCase{"AuthorityWithoutService", "[Main]\nca_file=/etc/ca.pem\n",
                                  std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsTest, RelativeAuthorityFileIsBesideTheSettingsFile) {
    GivenFile("[Main]\nservice=https://localhost\nca_file=private/ca.pem\n");
    const auto endpoint = ReadServiceSetting(ini_);
    ASSERT_TRUE(endpoint);
    const auto folder = ini_.substr(0, ini_.rfind('/') + 1);
    EXPECT_EQ(endpoint->AuthorityFile, folder + "private/ca.pem");
}

// The operator's keys come with the endpoint, also when the built-in service is used.
TEST_F(SettingsTest, UpdateKeysAreLoadedWithTheEndpoint) {
    GivenFile("[Main]\nservice=127.0.0.1:8080\nupdate_key=RWSkeyA,RWSkeyB\n");
    LoadSettings(env_, settings_, widths_);
    EXPECT_EQ(settings_.Service.Host, "127.0.0.1");
    EXPECT_EQ(settings_.Service.UpdateKeys, "RWSkeyA,RWSkeyB");
    GivenFile("[Main]\nupdate_key=RWSkeyC\n");
    LoadSettings(env_, settings_, widths_);
    EXPECT_EQ(settings_.Service.Host, kDefaultServiceHost);
    EXPECT_EQ(settings_.Service.UpdateKeys, "RWSkeyC");
}

TEST(TimerPeriod, NeverOverflowsThe32BitPeriod) {
    EXPECT_EQ(TimerPeriodMs(60), 60000u);
    EXPECT_EQ(TimerPeriodMs(900), 900000u);
    EXPECT_EQ(TimerPeriodMs(4294967), 4294967000u);
    EXPECT_EQ(TimerPeriodMs(4294968), 4294967000u);
    EXPECT_EQ(TimerPeriodMs(INT32_MAX), 4294967000u);
}

TEST(IntervalRule, BelowSixtyBecomesTheDefault) {
    EXPECT_EQ(ApplyIntervalRule(59), 900);
    EXPECT_EQ(ApplyIntervalRule(0), 900);
    EXPECT_EQ(ApplyIntervalRule(INT32_MIN), 900);
    EXPECT_EQ(ApplyIntervalRule(60), 60);
    EXPECT_EQ(ApplyIntervalRule(INT32_MAX), INT32_MAX);
}

} // namespace
