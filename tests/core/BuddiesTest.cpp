// The buddy list, invitations, exclusions and the invite dialog's host list.

#include "core/uTasks.h"
#include "core/uTasksBuddies.h"
#include "tests/core/RowPrinting.h"
#include "tests/core/TaskFixture.h"

#include <functional>
#include <gmock/gmock.h>

namespace testing_support {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kGetBuddiesTarget =
    "/bin/corvale/cmd.php?action=getbuddies&id=jdoe&pswd=c2VjcmV0&v=0.3.11.25";

TEST(CutItems, FollowsTheSeparatorsExactly) {
    struct Case {
        std::string text;
        std::vector<std::string> items;
    };
    for (const Case& c : {Case{"", {}}, Case{"a", {"a"}}, Case{"a;", {"a"}},
                          Case{"a;;b", {"a", "", "b"}}, Case{";", {""}}, Case{";;", {"", ""}},
                          Case{"a;b;", {"a", "b"}}, Case{" a ; b", {" a ", " b"}}}) {
        EXPECT_EQ(CutItems(c.text, ";"), c.items) << '"' << c.text << '"';
    }
}

TEST(BuddyDateTimeText, ShowsCompleteValidDateTimesOnly) {
    struct Case {
        std::string field;
        std::string text;
    };
    for (const Case& c : {
             Case{"2006-11-11 14:05:09", "Nov 11 2006 14:05:09"},
             Case{"2006-11-11 00:00:00", "Nov 11 2006"},       // midnight: the date alone
             Case{"2006-11-11 14:05", "Nov 11 2006 14:05:00"}, // a missing part is 0
             Case{"2006-11-11 14:05:09:77", "Nov 11 2006 14:05:09"},
             Case{"2006-11-11  14:05:09", "Nov 11 2006 14:05:09"}, // parts are trimmed
             Case{"2006-11-11", ""},                               // no time
             Case{"2006-11-11 ", ""},                              // time only blank
             Case{" ", ""},
             Case{"", ""},
             Case{" 2006-11-11 14:05:09", ""}, // the date part is what stands before the blank
             Case{"2006-13-11 10:00:00", ""},  // no such month
             Case{"2007-02-29 10:00:00", ""},
             Case{"2006-11-11 24:00:00", ""},
             Case{"0000-00-00 00:00:00", ""},
             Case{"1899-12-30 00:00:00", ""}, // the value 0
             Case{"1899-12-30 00:00:01", "Dec 30 1899 00:00:01"},
             Case{"2006-1,1-11 10:00:00", ""}, // numbers that are none
             Case{"2006-11-11 10:-:00", ""},
             Case{"99999999999-11-11 10:00:00", ""},
             Case{"2006-xx-11 10:00:00", ""}, // non-numeric reads as 0: no month 0
         }) {
        EXPECT_EQ(BuddyDateTimeText(c.field), c.text) << '"' << c.field << '"';
    }
}

class BuddiesTest : public TaskTest {
protected:
    void FetchBuddies() {
        StartGetBuddies();
        ASSERT_TRUE(window_.WaitForCall("SetStatusText|SB2|0|OK"));
        ASSERT_TRUE(WaitForTasksToEnd());
    }
};

TEST_F(BuddiesTest, FillsTheListInScreenOrderAndCountsTheRows) {
    Reply("OK jdoe,192.0.2.7,2006-11-11 14:05:09,OFFICE-PC;amy,198.51.100.4,,HOME;");
    Vars.UserID = std::string("me");
    FetchBuddies();
    EXPECT_THAT(window_.Calls(),
                ElementsAre("SetStatusText|SB2|0|Getting...", "SetStatusText|SB2|2|",
                            "BeginBuddyList",
                            "AppendBuddyRow|jdoe|OFFICE-PC|192.0.2.7|Nov 11 2006 14:05:09",
                            "AppendBuddyRow|amy|HOME|198.51.100.4|", "EndBuddyList",
                            "SetStatusText|SB2|0|OK", "BuddyRowCount", "SetStatusText|SB2|2|2"));
    EXPECT_THAT(Targets(), ElementsAre("/bin/corvale/cmd.php?action=getbuddies&id=me&pswd="
                                       "c2VjcmV0&v=0.3.11.25"));
    EXPECT_EQ(Vars.LoginID.Load(), "me");
}

struct ListCase {
    const char* name;
    std::string reply;
    std::vector<TBuddyRow> rows;
    friend void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }
};

class BuddyListReplies : public BuddiesTest, public ::testing::WithParamInterface<ListCase> {};

TEST_P(BuddyListReplies, GiveTheseRows) {
    Reply(GetParam().reply);
    FetchBuddies();
    EXPECT_EQ(window_.BuddyRows(), GetParam().rows);
    EXPECT_EQ(window_.Panel(TStatusBar::SB2, 2), std::to_string(GetParam().rows.size()));
    EXPECT_EQ(Vars.LoginID.Load(), "jdoe");
    EXPECT_EQ(window_.CountPrefix("ShowMessage|"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, BuddyListReplies,
    ::testing::Values(
        ListCase{"OKAlone", "OK", {}}, ListCase{"OKAndBlank", "OK ", {}},
        ListCase{"TwoFields", "OK amy,198.51.100.4", {{"amy", "", "198.51.100.4", ""}}},
        ListCase{
            "EmptyRecord", "OK a;;b", {{"a", "", "", ""}, {"", "", "", ""}, {"b", "", "", ""}}},
        ListCase{"LastRecordWithoutSeparator",
                 "OK a,1.2.3.4,,h1;b,5.6.7.8,,h2",
                 {{"a", "h1", "1.2.3.4", ""}, {"b", "h2", "5.6.7.8", ""}}},
        ListCase{"ExtraFieldsIgnored",
                 "OK a,1.2.3.4,2006-11-11 14:05:09,h,x,y;",
                 {{"a", "h", "1.2.3.4", "Nov 11 2006 14:05:09"}}},
        ListCase{"DateWithoutTime", "OK a,1.2.3.4,2006-11-11,h", {{"a", "h", "1.2.3.4", ""}}},
        ListCase{"Midnight",
                 "OK a,1.2.3.4,2006-11-11 00:00:00,h",
                 {{"a", "h", "1.2.3.4", "Nov 11 2006"}}},
        ListCase{"InvalidDate", "OK a,1.2.3.4,2006-13-45 10:00:00,h", {{"a", "h", "1.2.3.4", ""}}},
        // Parts on which the number reading raises its conversion error.
        ListCase{"TimePartThatIsNoNumber",
                 "OK a,1.2.3.4,2006-11-11 10:5-:00,h;b",
                 {{"a", "h", "1.2.3.4", ""}, {"b", "", "", ""}}},
        ListCase{"YearOutOfRange",
                 "OK a,1.2.3.4,99999999999-11-11 10:00:00,h",
                 {{"a", "h", "1.2.3.4", ""}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BuddiesTest, FailureEmptiesTheListAndShowsTheBoxAfterTheStatusBar) {
    Vars.LoginID = kLoginMarker;
    Reply("ERR -003:Invalid ID or password");
    FetchBuddies();
    EXPECT_THAT(window_.Calls(),
                ElementsAre("SetStatusText|SB2|0|Getting...", "SetStatusText|SB2|2|",
                            "BeginBuddyList", "EndBuddyList", "SetStatusText|SB2|0|OK",
                            "BuddyRowCount", "SetStatusText|SB2|2|0",
                            "ShowMessage|Error|-003:Invalid ID or password|OK",
                            "MessageAnswered|Error"));
    EXPECT_EQ(Vars.LoginID.Load(), kLoginMarker) << "a refused fetch does not log in";
    EXPECT_THAT(window_.BuddyRows(), IsEmpty());
}

TEST_F(BuddiesTest, InvitationSendsIDAndHostListThenReports) {
    Reply("OK anything");
    StartInvite("amy", "12,40");
    ASSERT_TRUE(window_.WaitForPrefix("MessageAnswered|"));
    ASSERT_TRUE(WaitForTasksToEnd());
    EXPECT_THAT(Targets(), ElementsAre("/bin/corvale/cmd.php?action=invite&id=jdoe&pswd=c2VjcmV0"
                                       "&invid=amy&hl=12,40&v=0.3.11.25"));
    EXPECT_THAT(window_.Calls(), ElementsAre("ShowMessage|Invite|amy was successfuly invited !|OK",
                                             "MessageAnswered|Invite"));
}

TEST_F(BuddiesTest, InvitationFailureShowsTheErrorOnly) {
    Reply("ERR -005:No such user");
    StartInvite("zed", "12");
    ASSERT_TRUE(window_.WaitForPrefix("MessageAnswered|"));
    ASSERT_TRUE(WaitForTasksToEnd());
    EXPECT_THAT(window_.Calls(),
                ElementsAre("ShowMessage|Error|-005:No such user|OK", "MessageAnswered|Error"));
    EXPECT_EQ(Targets().size(), 1u) << "the buddy list is not fetched again";
}

TEST_F(BuddiesTest, InvitedIDWithASemicolonIsCutThere) {
    Reply("OK");
    StartInvite("amy;x", "12");
    ASSERT_TRUE(window_.WaitForPrefix("MessageAnswered|"));
    EXPECT_THAT(Targets(), ElementsAre("/bin/corvale/cmd.php?action=invite&id=jdoe&pswd=c2VjcmV0"
                                       "&invid=amy&hl=x;12&v=0.3.11.25"));
    EXPECT_EQ(window_.Count("ShowMessage|Invite|amy was successfuly invited !|OK"), 1);
}

TEST_F(BuddiesTest, ExclusionReportsAndFetchesTheListAgainWhateverTheReply) {
    struct Case {
        std::string buddyId, reply, box;
    };
    for (const Case& c :
         {Case{"amy", "OK", "ShowMessage|Exclude|amy was successfuly excluded !|OK"},
          Case{"amy", "ERR -006:Not your buddy", "ShowMessage|Error|-006:Not your buddy|OK"},
          Case{"", "OK", "ShowMessage|Exclude| was successfuly excluded !|OK"}}) {
        SCOPED_TRACE(c.reply + " for '" + c.buddyId + "'");
        const std::size_t before = Targets().size();
        const int fetches = window_.Count("SetStatusText|SB2|0|OK");
        Reply(c.reply);
        Reply("OK amy,198.51.100.4,,HOME");
        StartExclude(c.buddyId);
        ASSERT_TRUE(window_.WaitForCall(c.box));
        ASSERT_TRUE(window_.WaitForCall("SetStatusText|SB2|0|OK", fetches + 1));
        ASSERT_TRUE(WaitForTasksToEnd());
        const auto targets = Targets();
        ASSERT_EQ(targets.size(), before + 2);
        EXPECT_EQ(targets[before], "/bin/corvale/cmd.php?action=exclude&id=jdoe&pswd=c2VjcmV0"
                                   "&invid=" +
                                       c.buddyId + "&v=0.3.11.25");
        EXPECT_EQ(targets[before + 1], kGetBuddiesTarget);
    }
}

TEST_F(BuddiesTest, ExclusionFetchesTheListAgainWhileItsBoxIsStillOpen) {
    Reply("OK");
    Reply("OK amy,198.51.100.4,,HOME");
    window_.HoldMessages();
    StartExclude("bob");
    ASSERT_TRUE(window_.WaitForCall("ShowMessage|Exclude|bob was successfuly excluded !|OK"));
    ASSERT_TRUE(window_.WaitForCall("SetStatusText|SB2|2|1"));
    EXPECT_EQ(window_.CountPrefix("MessageAnswered|"), 0) << "the box is still open";
    EXPECT_THAT(window_.BuddyRows(), ElementsAre(TBuddyRow{"amy", "HOME", "198.51.100.4", ""}));
    EXPECT_EQ(Targets().back(), kGetBuddiesTarget);
    window_.ReleaseMessages();
    ASSERT_TRUE(window_.WaitForCall("MessageAnswered|Exclude"));
}

TEST_F(BuddiesTest, TwoOverlappingFetchesLeaveTheRowsOfBothAndCountThemAll) {
    ScriptedReply first = ScriptedReply::Http("OK a,192.0.2.1,,h1;b,192.0.2.2,,h2");
    ScriptedReply second = ScriptedReply::Http("OK c,192.0.2.3,,h3");
    first.afterRequests = second.afterRequests = 2; // both have emptied the list by then
    second.delayBeforeReply = 200ms;                // the second answer comes last
    server_.Enqueue(first);
    server_.Enqueue(second);
    StartGetBuddies();
    StartGetBuddies();
    ASSERT_TRUE(window_.WaitForCall("SetStatusText|SB2|0|OK", 2));
    ASSERT_TRUE(WaitForTasksToEnd());
    EXPECT_EQ(window_.Count("BeginBuddyList"), 2);
    EXPECT_THAT(window_.BuddyRows(), ElementsAre(TBuddyRow{"a", "h1", "192.0.2.1", ""},
                                                 TBuddyRow{"b", "h2", "192.0.2.2", ""},
                                                 TBuddyRow{"c", "h3", "192.0.2.3", ""}));
    EXPECT_EQ(window_.Panel(TStatusBar::SB2, 2), "3");
}

TEST_F(BuddiesTest, TimeoutTextIsShownInTheErrorBoxOfEveryOperation) {
    LimitEachRead(200ms);
    ScriptedReply silent;
    silent.ending = ScriptedReply::Ending::Hang;
    server_.SetFallback(silent);
    const std::string box = "ShowMessage|Error|-001:Server timeout !|OK";
    struct Case {
        const char* name;
        std::function<void()> start;
        int boxes; // the exclusion's re-fetch times out too
    };
    for (const Case& c : {Case{"buddy list", [] { StartGetBuddies(); }, 1},
                          Case{"invitation", [] { StartInvite("amy", "12"); }, 1},
                          Case{"exclusion", [] { StartExclude("amy"); }, 2},
                          Case{"version check", [] { StartClver(); }, 1}}) {
        SCOPED_TRACE(c.name);
        const int before = window_.Count(box);
        c.start();
        ASSERT_TRUE(window_.WaitForCall(box, before + c.boxes));
        ASSERT_TRUE(WaitForTasksToEnd());
        EXPECT_EQ(window_.Count(box), before + c.boxes);
    }
    EXPECT_EQ(window_.CountPrefix("ShowMessage|"), window_.Count(box)) << "no other box";
}

// ---- the host list of the invite dialog -------------------------------------------------

class HostListTest : public TaskTest {
protected:
    void FetchHosts() {
        StartGetHostList(dialog_);
        ASSERT_TRUE(WaitForTasksToEnd());
    }
    std::shared_ptr<FakeInviteDialog> dialog_ = std::make_shared<FakeInviteDialog>();
};

TEST_F(HostListTest, FillsTheDialogWithNamesAndNumbers) {
    Reply("OK 12,OFFICE-PC;40,LAPTOP");
    FetchHosts();
    EXPECT_THAT(dialog_->Calls(),
                ElementsAre("SetGettingHostList|1", "BeginHostList", "AppendHostRow|OFFICE-PC|12",
                            "AppendHostRow|LAPTOP|40", "EndHostList", "SetGettingHostList|0"));
    EXPECT_THAT(Targets(), ElementsAre("/bin/corvale/cmd.php?action=gethostlist&id=jdoe&pswd="
                                       "c2VjcmV0&v=0.3.11.25"));
    EXPECT_EQ(Vars.LoginID.Load(), "jdoe");
}

TEST_F(HostListTest, NonNumericNumberGivesZeroAndMissingFieldsStayEmpty) {
    Reply("OK PC1,OFFICE-PC;7;;40,LAPTOP,extra");
    FetchHosts();
    using Row = FakeInviteDialog::HostRow;
    EXPECT_THAT(dialog_->Rows(),
                ElementsAre(Row{"OFFICE-PC", 0}, Row{"", 7}, Row{"", 0}, Row{"LAPTOP", 40}));
    EXPECT_FALSE(dialog_->GettingHostList());
}

TEST_F(HostListTest, FailureLeavesTheListEmptyAndTheFlagClearedBeforeTheBox) {
    Reply("ERR -003:Invalid ID or password");
    FetchHosts();
    EXPECT_THAT(dialog_->Calls(), ElementsAre("SetGettingHostList|1", "BeginHostList",
                                              "EndHostList", "SetGettingHostList|0"));
    EXPECT_THAT(window_.Calls(), ElementsAre("ShowMessage|Error|-003:Invalid ID or password|OK",
                                             "MessageAnswered|Error"));
    EXPECT_THAT(dialog_->Rows(), IsEmpty());
    EXPECT_EQ(Vars.LoginID.Load(), "");
}

TEST_F(HostListTest, NumberThatFailsConversionEndsTheTaskWithTheDialogUsable) {
    Reply("OK 12,OFFICE-PC;--5,LAPTOP;40,HOME");
    FetchHosts();
    EXPECT_THAT(TaskErrors::Messages(), ElementsAre("'--5' is not a valid integer value"));
    EXPECT_THAT(dialog_->Calls(),
                ElementsAre("SetGettingHostList|1", "BeginHostList", "AppendHostRow|OFFICE-PC|12",
                            "EndHostList", "SetGettingHostList|0"));
    EXPECT_FALSE(dialog_->GettingHostList());
    EXPECT_FALSE(dialog_->InBulkUpdate());
}

TEST_F(HostListTest, DialogClosedBeforeTheReplyIsNotTouched) {
    for (const std::string reply : {"OK 12,OFFICE-PC;40,LAPTOP", "ERR -003:Invalid ID"}) {
        SCOPED_TRACE(reply);
        dialog_ = std::make_shared<FakeInviteDialog>();
        dialog_->CloseAfter("BeginHostList");
        Reply(reply);
        FetchHosts();
        EXPECT_THAT(dialog_->Rows(), IsEmpty());
        EXPECT_TRUE(dialog_->InBulkUpdate()) << "the closed dialog saw nothing after its close";
        EXPECT_GE(dialog_->DroppedAfterClose(), 2) << "the fetch did end after the close";
        EXPECT_THAT(TaskErrors::Messages(), IsEmpty());
    }
    EXPECT_EQ(window_.Count("ShowMessage|Error|-003:Invalid ID|OK"), 1);
}

TEST_F(HostListTest, TimeoutTextIsShownAndTheFlagCleared) {
    LimitEachRead(200ms);
    ScriptedReply silent;
    silent.ending = ScriptedReply::Ending::Hang;
    server_.Enqueue(silent);
    StartGetHostList(dialog_);
    ASSERT_TRUE(window_.WaitForCall("ShowMessage|Error|-001:Server timeout !|OK"));
    ASSERT_TRUE(WaitForTasksToEnd());
    EXPECT_FALSE(dialog_->GettingHostList());
}

} // namespace
} // namespace testing_support
