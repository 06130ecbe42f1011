// A change of the network starts an address check after the settle time, once however many
// changes come, never while checking is off, and after a check that is running.

#include "core/Net.h"
#include "mainwindow/MainWindowFixture.h"
#include "support/FormAccess.h"
#include "tests/support/QtWait.h"

#include <QElapsedTimer>

using testing_support::RunEventsFor;
using testing_support::ScriptedReply;
using testing_support::WaitFor;
using namespace std::chrono_literals;

namespace {

class TMainWindowTriggerTest : public TMainWindowTest {};

// The settle time is 2 s and the jitter at most 1 s.
TEST_F(TMainWindowTriggerTest, ABurstOfChangesGivesOneCheckAfterTheSettleTime) {
    auto& w = CreateWindow();
    ASSERT_TRUE(WaitForRequests("getip", 1));
    ASSERT_TRUE(WaitForFirstAddress());
    QElapsedTimer since;
    since.start();
    for (int i = 0; i < 10; ++i) {
        w.NetworkChangedForTests();
    }
    ASSERT_TRUE(WaitForRequests("getip", 2));
    EXPECT_GE(since.elapsed(), 2000);
    RunEventsFor(3500ms);
    EXPECT_EQ(Requests("getip").size(), 2u);
}

TEST_F(TMainWindowTriggerTest, NoCheckWhileActiveIsOff) {
    auto& w = CreateWindow();
    ASSERT_TRUE(WaitForFirstAddress());
    w.NetworkChangedForTests();
    ASSERT_TRUE(TriggerAction(w, "_Active")); // off before the change settled
    w.NetworkChangedForTests();
    RunEventsFor(3500ms);
    EXPECT_EQ(Requests("getip").size(), 1u);
}

TEST_F(TMainWindowTriggerTest, AChangeDuringACheckGivesOneAfterIt) {
    auto& w = CreateWindow();
    ASSERT_TRUE(WaitForFirstAddress());
    TNetLimits patient;
    patient.PerRead = 20s; // the held check outlasts the settle time and the jitter
    SetNetLimitsForTests(patient);
    ScriptedReply held = ScriptedReply::Http(kGetIPReply);
    held.held = true;
    service.Enqueue(held);
    ASSERT_TRUE(TriggerAction(w, "_CheckNow"));
    ASSERT_TRUE(WaitForRequests("getip", 2));
    w.NetworkChangedForTests();
    RunEventsFor(3500ms);
    EXPECT_EQ(Requests("getip").size(), 2u) << "none while the check runs";
    service.ReleaseHeldReplies();
    EXPECT_TRUE(WaitForRequests("getip", 3));
    RunEventsFor(1000ms);
    EXPECT_EQ(Requests("getip").size(), 3u);
}

} // namespace
