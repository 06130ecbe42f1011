// The address check and report against a scripted service and the recording window.

#include "core/uTasks.h"
#include "core/uTasksIP.h"
#include "tests/core/TaskFixture.h"

#include <algorithm>
#include <atomic>
#include <gmock/gmock.h>
#include <optional>

namespace testing_support {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kGetIPTarget =
    "/bin/corvale/cmd.php?action=getip&id=jdoe&pswd=c2VjcmV0&host=OFFICE-PC&v=0.3.11.25";
std::string SetIPTarget(const std::string& ip) {
    return "/bin/corvale/cmd.php?action=setip&id=jdoe&pswd=c2VjcmV0&host=OFFICE-PC&ip=" + ip +
           "&v=0.3.11.25";
}
const std::string kHintPrefix = "Corvale 0.3.11 (build 25): ";
const std::string kLoggedIn = "Corvale 0.3.11 - jdoe on OFFICE-PC";

class IPCheckTest : public TaskTest {
protected:
    // Runs one check to its end, with every task it started.
    void RunCheck() {
        StartGetIP();
        ASSERT_TRUE(window_.WaitForCall("RestartTimerIfActive"));
        ASSERT_TRUE(WaitForTasksToEnd());
    }
    std::size_t IndexOf(const std::string& call) const {
        const auto calls = window_.Calls();
        return static_cast<std::size_t>(std::find(calls.begin(), calls.end(), call) -
                                        calls.begin());
    }
};

TEST_F(IPCheckTest, FirstCheckAtStartUpRecordsShowsAndReportsTheAddress) {
    Reply("OK 192.0.2.7 192.0.2.7");
    Reply("OK");
    RunCheck();

    EXPECT_THAT(window_.CallsOfThreadThatMade("StopTimer"),
                ElementsAre("StopTimer", std::string("SetStatusText|SB1|3|") + kFixedNowText,
                            std::string("AppendHistoryRow|192.0.2.7|") + kFixedNowText,
                            "SetStatusText|SB1|1|192.0.2.7",
                            "SetTrayHint|" + kHintPrefix + "192.0.2.7", "Sleep|100",
                            "RestartTimerIfActive"));
    EXPECT_THAT(window_.CallsOfThreadThatMade("IsActiveChecked"),
                ElementsAre("IsActiveChecked", "SetCaption|" + kLoggedIn));
    EXPECT_LT(IndexOf("Sleep|100"), IndexOf("IsActiveChecked")) << "the report waits 100 ms";
    EXPECT_THAT(Targets(), ElementsAre(kGetIPTarget, SetIPTarget("192.0.2.7")));
    EXPECT_EQ(Vars.IP.Load(), "192.0.2.7");
    EXPECT_EQ(Vars.ChangeTime.Load(), FixedNow());
    EXPECT_EQ(Vars.LoginID.Load(), "jdoe");
    EXPECT_TRUE(window_.TimerEnabled());
}

struct CompareCase {
    const char* name;
    std::string knownIP;
    std::string reply;
    std::optional<std::string> historyRow; // the address of the new row, if any
    std::optional<std::string> reportedIP; // the "ip" of the report, if any
};

class AddressComparison : public IPCheckTest, public ::testing::WithParamInterface<CompareCase> {};

TEST_P(AddressComparison, AddsRowsAndReportsExactlyWhenTheAddressesDiffer) {
    const CompareCase& c = GetParam();
    Vars.IP = c.knownIP;
    Reply(c.reply);
    Reply("OK");
    RunCheck();

    if (c.historyRow) {
        EXPECT_EQ(window_.CountPrefix("AppendHistoryRow|"), 1);
        EXPECT_EQ(window_.Count("AppendHistoryRow|" + *c.historyRow + "|" + kFixedNowText), 1);
        EXPECT_EQ(window_.Count("SetStatusText|SB1|1|" + *c.historyRow), 1);
        EXPECT_EQ(window_.Count("SetTrayHint|" + kHintPrefix + *c.historyRow), 1);
        EXPECT_EQ(Vars.IP.Load(), *c.historyRow);
    } else {
        EXPECT_EQ(window_.CountPrefix("AppendHistoryRow|"), 0);
        EXPECT_EQ(window_.CountPrefix("SetTrayHint|"), 0);
        EXPECT_EQ(window_.CountPrefix("SetStatusText|SB1|1|"), 0);
        EXPECT_EQ(Vars.IP.Load(), c.knownIP);
    }
    if (c.reportedIP) {
        EXPECT_THAT(Targets(), ElementsAre(kGetIPTarget, SetIPTarget(*c.reportedIP)));
    } else {
        EXPECT_THAT(Targets(), ElementsAre(kGetIPTarget));
    }
    EXPECT_EQ(window_.Panel(TStatusBar::SB1, 3), kFixedNowText);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, AddressComparison,
    ::testing::Values(
        CompareCase{"NoChange", "192.0.2.7", "OK 192.0.2.7 192.0.2.7", std::nullopt, std::nullopt},
        CompareCase{"RecordDiffers", "192.0.2.7", "OK 192.0.2.7 198.51.100.1", std::nullopt,
                    "192.0.2.7"},
        CompareCase{"NoRecordPart", "192.0.2.7", "OK 192.0.2.7", std::nullopt, "192.0.2.7"},
        CompareCase{"RecordFollowedByLineBreak", "192.0.2.7", "OK 192.0.2.7 192.0.2.7\r\n",
                    std::nullopt, "192.0.2.7"},
        CompareCase{"RecordIsTheRestTakenWhole", "192.0.2.7", "OK 192.0.2.7 192.0.2.7 x",
                    std::nullopt, "192.0.2.7"},
        CompareCase{"NewAddress", "192.0.2.7", "OK 203.0.113.9 203.0.113.9", "203.0.113.9",
                    "203.0.113.9"},
        CompareCase{"OKAloneWithKnownAddress", "192.0.2.7", "OK", "", ""},
        CompareCase{"OKAloneWithoutKnownAddress", "", "OK", std::nullopt, std::nullopt},
        CompareCase{"OKAndBlankWithoutKnownAddress", "", "OK ", std::nullopt, std::nullopt},
        CompareCase{"StatusWordIsCaseSensitive", "", "ok 192.0.2.7 192.0.2.7", std::nullopt,
                    std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(IPCheckTest, ReplyWithoutBlankIsAFailureWithAnEmptyMessage) {
    Vars.IP = std::string("192.0.2.7");
    Reply("Forbidden");
    RunCheck();
    EXPECT_THAT(window_.Calls(),
                ElementsAre("StopTimer", std::string("SetStatusText|SB1|3|") + kFixedNowText,
                            "ShowMessage|Error||OK", "MessageAnswered|Error",
                            "RestartTimerIfActive"));
    EXPECT_EQ(Vars.IP.Load(), "192.0.2.7");
}

TEST_F(IPCheckTest, ServerTimeoutIsShownAndTheTimerReArmedOnlyAfterTheBoxIsAnswered) {
    LimitEachRead(200ms);
    ScriptedReply silent;
    silent.ending = ScriptedReply::Ending::Hang;
    server_.Enqueue(silent);
    window_.HoldMessages();

    StartGetIP();
    ASSERT_TRUE(window_.WaitForCall("ShowMessage|Error|-001:Server timeout !|OK"));
    EXPECT_EQ(window_.Panel(TStatusBar::SB1, 3), kFixedNowText);
    EXPECT_EQ(window_.Count("RestartTimerIfActive"), 0);
    EXPECT_FALSE(window_.TimerEnabled()) << "no automatic check while the box is open";

    window_.ReleaseMessages();
    ASSERT_TRUE(window_.WaitForCall("RestartTimerIfActive"));
    EXPECT_TRUE(window_.TimerEnabled());
    EXPECT_EQ(window_.CountPrefix("AppendHistoryRow|"), 0);
}

TEST_F(IPCheckTest, TimerFollowsActiveAfterTheCheck) {
    for (const bool active : {true, false}) {
        SCOPED_TRACE(active);
        window_.SetActive(active);
        Vars.IP = std::string("192.0.2.7");
        Reply("OK 192.0.2.7 192.0.2.7");
        const int before = window_.Count("RestartTimerIfActive");
        StartGetIP();
        ASSERT_TRUE(window_.WaitForCall("RestartTimerIfActive", before + 1));
        EXPECT_EQ(window_.TimerEnabled(), active);
    }
}

TEST_F(IPCheckTest, RequestValuesAreSentUnencoded) {
    Vars.UserID = std::string("j.doe+1");
    Vars.Password = std::string("c2V/jcm=V0");
    Vars.HostName = std::string("");
    Vars.IP = std::string("192.0.2.7");
    Reply("OK 192.0.2.7 192.0.2.7");
    RunCheck();
    EXPECT_THAT(Targets(),
                ElementsAre("/bin/corvale/cmd.php?action=getip&id=j.doe+1&pswd=c2V/jcm=V0&host=&"
                            "v=0.3.11.25"));
}

// ---- the report -------------------------------------------------------------------------

class IPReportTest : public TaskTest {
protected:
    void RunReport() {
        StartSetIP();
        ASSERT_TRUE(window_.WaitForPrefix("SetCaption|"));
        ASSERT_TRUE(WaitForTasksToEnd());
    }
};

TEST_F(IPReportTest, RefusedReportShowsTheMessageThenKeepsInvalidID) {
    Vars.IP = std::string("192.0.2.7");
    Vars.LoginID = std::string("jdoe"); // accepted earlier
    Reply("ERR -002:Invalid ID or password");
    window_.HoldMessages();
    StartSetIP();
    ASSERT_TRUE(window_.WaitForCall("ShowMessage|Error|-002:Invalid ID or password|OK"));
    EXPECT_EQ(Vars.LoginID.Load(), kLoginMarker);
    EXPECT_EQ(window_.CountPrefix("SetCaption|"), 0) << "the caption follows the box";

    window_.ReleaseMessages();
    ASSERT_TRUE(window_.WaitForPrefix("SetCaption|"));
    EXPECT_EQ(window_.Calls().back(), "SetCaption|Corvale 0.3.11 - (INVALID ID)");
    EXPECT_EQ(Vars.LoginID.Load(), kLoginMarker);
    EXPECT_THAT(Targets(), ElementsAre(SetIPTarget("192.0.2.7")));
}

TEST_F(IPReportTest, AcceptedReportLogsInWithTheUserIDAndAnythingAfterOK) {
    Vars.IP = std::string("192.0.2.7");
    Reply("OK whatever follows");
    RunReport();
    EXPECT_EQ(Vars.LoginID.Load(), "jdoe");
    EXPECT_EQ(window_.Calls().back(), "SetCaption|" + kLoggedIn);
}

TEST_F(IPReportTest, NothingIsSentWithoutAccountOrWhileInactive) {
    struct Case {
        const char* name;
        std::string userId, password;
        bool active;
    };
    for (const Case& c :
         {Case{"no user ID", "", "c2VjcmV0", true}, Case{"no password", "jdoe", "", true},
          Case{"inactive", "jdoe", "c2VjcmV0", false}}) {
        SCOPED_TRACE(c.name);
        Vars.UserID = c.userId;
        Vars.Password = c.password;
        window_.SetActive(c.active);
        const int captions = window_.CountPrefix("SetCaption|");
        StartSetIP();
        ASSERT_TRUE(window_.WaitForPrefix("SetCaption|", captions + 1));
        ASSERT_TRUE(WaitForTasksToEnd());
        EXPECT_EQ(window_.Calls().back(), "SetCaption|Corvale 0.3.11 (not logged-in)");
        EXPECT_EQ(Vars.LoginID.Load(), "");
    }
    EXPECT_THAT(Targets(), IsEmpty());
    EXPECT_EQ(window_.CountPrefix("ShowMessage|"), 0);
}

TEST(CaptionText, ShowsTheThreeLoginStates) {
    InitCfg("/opt/corvale/corvale", "OFFICE-PC");
    struct Case {
        std::string loginId;
        std::string caption;
    };
    for (const Case& c :
         {Case{"", "Corvale 0.3.11 (not logged-in)"},
          Case{kLoginMarker, "Corvale 0.3.11 - (INVALID ID)"},
          Case{"jdoe", "Corvale 0.3.11 - jdoe on OFFICE-PC"},
          Case{std::string("\xFF\xFF"), "Corvale 0.3.11 - \xFF\xFF on OFFICE-PC"}}) {
        Vars.LoginID = c.loginId;
        EXPECT_EQ(CaptionText(), c.caption);
    }
    Vars.LoginID = std::string();
}

// What this proves: two checks that overlap and both see a new address each add a row, each
// row carrying the time its own check wrote into the status bar, and each starts a report.
// What it cannot: that a row takes its check's own time rather than the shared record's. The
// row's text is made right after the record is set, before the held call waits, and nothing
// here makes the other check set the record in between; a row made from the record would
// pass as well, except under a scheduler that happens to switch at exactly that point.
TEST_F(IPCheckTest, TwoOverlappingChecksThatBothSeeANewAddressRecordAndReportItTwice) {
    // Each check has a time of its own: the first to ask the clock gets 12:30:05, the next
    // 12:30:06.
    std::atomic<int> asked{0};
    SetClockForTests({[&asked] {
                          return *TryEncodeDateTime({2026, 12, 6, 12, 30, 5 + asked++, 0});
                      },
                      [this](unsigned ms) { window_.Record("Sleep|" + std::to_string(ms)); }});
    ScriptedReply newAddress = ScriptedReply::Http("OK 203.0.113.9 192.0.2.7");
    newAddress.afterRequests = 2; // both checks are waiting before either gets its answer
    server_.Enqueue(newAddress);
    server_.Enqueue(newAddress);
    Reply("OK");
    Reply("OK");
    window_.HoldHistoryRowsUntil(2);

    StartGetIP();
    StartGetIP();
    ASSERT_TRUE(window_.WaitForCall("RestartTimerIfActive", 2));
    ASSERT_TRUE(WaitForTasksToEnd());

    EXPECT_EQ(window_.CountPrefix("AppendHistoryRow|203.0.113.9|"), 2);
    EXPECT_EQ(window_.Count("AppendHistoryRow|203.0.113.9|Dec 06 2026 12:30:05"), 1);
    EXPECT_EQ(window_.Count("AppendHistoryRow|203.0.113.9|Dec 06 2026 12:30:06"), 1);
    // Each row carries the time its own check wrote into the status bar.
    for (const char* time : {"Dec 06 2026 12:30:05", "Dec 06 2026 12:30:06"}) {
        const auto calls =
            window_.CallsOfThreadThatMade(std::string("SetStatusText|SB1|3|") + time);
        EXPECT_NE(std::find(calls.begin(), calls.end(),
                            std::string("AppendHistoryRow|203.0.113.9|") + time),
                  calls.end())
            << time;
    }
    EXPECT_THAT(Targets(), ElementsAre(kGetIPTarget, kGetIPTarget, SetIPTarget("203.0.113.9"),
                                       SetIPTarget("203.0.113.9")));
}

TEST_F(IPCheckTest, MidnightShowsTheDateAlone) {
    SetClockForTests({[] {
                          return *TryEncodeDateTime({2026, 12, 6, 0, 0, 0, 0});
                      },
                      [](unsigned) {}});
    Reply("OK 192.0.2.7 192.0.2.7");
    Reply("OK");
    RunCheck();
    EXPECT_EQ(window_.Count("AppendHistoryRow|192.0.2.7|Dec 06 2026"), 1);
    EXPECT_EQ(window_.Panel(TStatusBar::SB1, 3), "Dec 06 2026");
}

TEST_F(IPCheckTest, OneMillisecondAfterMidnightShowsTheTime) {
    SetClockForTests({[] {
                          return *TryEncodeDateTime({2026, 12, 6, 0, 0, 0, 1});
                      },
                      [](unsigned) {}});
    Reply("OK 192.0.2.7 192.0.2.7");
    Reply("OK");
    RunCheck();
    EXPECT_EQ(window_.Count("AppendHistoryRow|192.0.2.7|Dec 06 2026 00:00:00"), 1);
    EXPECT_EQ(window_.Panel(TStatusBar::SB1, 3), "Dec 06 2026 00:00:00");
}

TEST_F(IPReportTest, LoginMarkerStandsWhileTheReportIsOutstanding) {
    Vars.IP = std::string("192.0.2.7");
    Vars.LoginID = std::string("jdoe"); // accepted earlier
    ScriptedReply held = ScriptedReply::Http("OK");
    held.held = true;
    server_.Enqueue(held);
    StartSetIP();
    ASSERT_TRUE(server_.WaitForRequests(1));
    EXPECT_EQ(Vars.LoginID.Load(), kLoginMarker);
    EXPECT_EQ(CaptionText(), "Corvale 0.3.11 - (INVALID ID)");
    EXPECT_EQ(window_.CountPrefix("SetCaption|"), 0);

    server_.ReleaseHeldReplies();
    ASSERT_TRUE(window_.WaitForPrefix("SetCaption|"));
    EXPECT_EQ(window_.Calls().back(), "SetCaption|" + kLoggedIn);
    EXPECT_EQ(Vars.LoginID.Load(), "jdoe");
}

} // namespace
} // namespace testing_support
