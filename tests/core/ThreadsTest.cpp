// The task mechanism and the starters' records, and tasks that run side by side.

#include "core/uTasks.h"
#include "core/uThreads.h"
#include "tests/core/TaskFixture.h"

#include <condition_variable>
#include <gmock/gmock.h>
#include <mutex>

namespace testing_support {
namespace {

// What the test procedures below saw, shared with the test that started them.
struct Observations {
    std::mutex mutex;
    std::condition_variable changed;
    int running = 0; // tasks inside ArriveAndWaitForAll
    int target = 0;
    int released = 0;
    bool handleWasOwn = false;
    std::thread::id workThread, doneThread, linkFreedOn;
    bool doneAfterWork = false;

    void Reset() {
        std::lock_guard lock(mutex);
        running = target = released = 0;
        handleWasOwn = doneAfterWork = false;
        workThread = doneThread = linkFreedOn = {};
    }
    template <typename F> bool WaitFor(F condition) {
        std::unique_lock lock(mutex);
        return testing_support::WaitUntil(changed, lock, condition);
    }
};
Observations seen;

void RecordOwnHandle(TTaskRec& task) {
    std::lock_guard lock(seen.mutex);
    seen.handleWasOwn = task.Thread.get_id() == std::this_thread::get_id();
    seen.workThread = std::this_thread::get_id();
    seen.changed.notify_all();
}

void RecordDone(TTaskRec&) {
    std::lock_guard lock(seen.mutex);
    seen.doneThread = std::this_thread::get_id();
    seen.doneAfterWork = seen.workThread == std::this_thread::get_id();
    seen.changed.notify_all();
}

void ArriveAndWaitForAll(TTaskRec&) {
    std::unique_lock lock(seen.mutex);
    ++seen.running;
    seen.changed.notify_all();
    // Every task waits for all the others: with any limit on running tasks this never ends.
    if (testing_support::WaitUntil(seen.changed, lock,
                                   [] { return seen.running >= seen.target; })) {
        ++seen.released;
        seen.changed.notify_all();
    }
}

void FailToConvert(TTaskRec&) {
    StrToIntSafe("1,2");
}
void ThrowSomethingElse(TTaskRec&) {
    throw 42;
}

// A dialog link that notes the thread on which the last reference to it went away.
class LinkThatNotesItsEnd final : public IInviteDialogLink {
public:
    ~LinkThatNotesItsEnd() override {
        std::lock_guard lock(seen.mutex);
        seen.linkFreedOn = std::this_thread::get_id();
        seen.changed.notify_all();
    }
    void SetGettingHostList(bool) override {}
    void BeginHostList() override {}
    void AppendHostRow(const std::string&, std::int32_t) override {}
    void EndHostList() override {}
};

class ThreadsTest : public TaskTest {
protected:
    void SetUp() override {
        TaskTest::SetUp();
        seen.Reset();
    }
};

TEST_F(ThreadsTest, TaskRunsOnlyOnceItsRecordHoldsItsOwnThreadThenDoneOnTheSameThread) {
    for (int i = 0; i < 20; ++i) { // the gate matters most when the thread starts fast
        seen.Reset();
        auto task = NewTask();
        task->Work = &RecordOwnHandle;
        task->Done = &RecordDone;
        StartTask(std::move(task));
        ASSERT_TRUE(seen.WaitFor([] { return seen.doneThread != std::thread::id(); }));
        std::lock_guard lock(seen.mutex);
        EXPECT_TRUE(seen.handleWasOwn);
        EXPECT_TRUE(seen.doneAfterWork);
        EXPECT_NE(seen.workThread, std::this_thread::get_id());
    }
}

TEST_F(ThreadsTest, RecordIsFreedByTheTasksOwnThread) {
    auto task = NewTask();
    task->Work = &RecordOwnHandle;
    task->Arg = TInviteDialogLink(std::make_shared<LinkThatNotesItsEnd>());
    StartTask(std::move(task));
    ASSERT_TRUE(seen.WaitFor([] { return seen.linkFreedOn != std::thread::id(); }));
    std::lock_guard lock(seen.mutex);
    EXPECT_EQ(seen.linkFreedOn, seen.workThread);
}

TEST_F(ThreadsTest, ManyTasksRunAtOnceWithoutLimit) {
    constexpr int kTasks = 24;
    {
        std::lock_guard lock(seen.mutex);
        seen.target = kTasks;
    }
    for (int i = 0; i < kTasks; ++i) {
        auto task = NewTask();
        task->Work = &ArriveAndWaitForAll;
        StartTask(std::move(task));
    }
    EXPECT_TRUE(seen.WaitFor([] { return seen.released == kTasks; }));
}

TEST_F(ThreadsTest, ErrorInATaskBodyEndsThatTaskOnly) {
    auto failing = NewTask();
    failing->Work = &FailToConvert;
    failing->Done = &RecordDone;
    StartTask(std::move(failing));
    ASSERT_TRUE(TaskErrors::WaitFor("'1,2' is not a valid integer value"));
    ASSERT_TRUE(seen.WaitFor([] { return seen.doneThread != std::thread::id(); }))
        << "the record is still finished and freed";

    auto odd = NewTask();
    odd->Work = &ThrowSomethingElse;
    StartTask(std::move(odd));
    ASSERT_TRUE(TaskErrors::WaitFor("unknown error"));

    // The process goes on and new tasks still run.
    auto next = NewTask();
    next->Work = &RecordOwnHandle;
    seen.Reset();
    StartTask(std::move(next));
    EXPECT_TRUE(seen.WaitFor([] { return seen.workThread != std::thread::id(); }));
}

TEST(TaskRecord, FreeTaskOfNoneOrAnUnstartedRecordIsHarmless) {
    FreeTask(nullptr);
    FreeTask(NewTask().release());
    StartTask(nullptr);
}

TEST(TaskRecord, TextArgumentIsTakenOverOnce) {
    auto task = NewInviteTask("amy", "12,40");
    ASSERT_TRUE(std::holds_alternative<TStrCopy>(task->Arg));
    EXPECT_EQ(TakeTextArg(*task), "amy;12,40");
    EXPECT_TRUE(std::holds_alternative<std::monostate>(task->Arg));
    EXPECT_EQ(TakeTextArg(*task), "");
}

TEST(TaskRecord, StartersHandTheirArguments) {
    EXPECT_TRUE(std::holds_alternative<std::monostate>(NewExcludeTask("")->Arg))
        << "an empty buddy ID hands no text";
    auto exclusion = NewExcludeTask("amy");
    EXPECT_EQ(TakeTextArg(*exclusion), "amy");
    auto invitation = NewInviteTask("a;b", "12");
    EXPECT_EQ(TakeTextArg(*invitation), "a;b;12");

    auto link = std::make_shared<LinkThatNotesItsEnd>();
    auto hostList = NewGetHostListTask(link);
    EXPECT_EQ(DialogArg(*hostList), link);
    EXPECT_EQ(DialogArg(*exclusion), nullptr);
    for (const auto* task : {exclusion.get(), invitation.get(), hostList.get()}) {
        EXPECT_NE(task->Work, nullptr);
        EXPECT_EQ(task->Done, &TaskDoneNothing);
    }
}

// ---- tasks side by side -------------------------------------------------------------------

TEST_F(ThreadsTest, TwoChecksStartedTogetherBothRunToTheirEnd) {
    Vars.IP = std::string("192.0.2.7");
    ScriptedReply slow = ScriptedReply::Http("OK 192.0.2.7 192.0.2.7");
    slow.delayBeforeReply = 50ms;
    server_.SetFallback(slow);
    StartGetIP();
    StartGetIP();
    ASSERT_TRUE(server_.WaitForRequests(2));
    ASSERT_TRUE(window_.WaitForCall("RestartTimerIfActive", 2));
    EXPECT_EQ(window_.Count("StopTimer"), 2);
    EXPECT_EQ(window_.CountPrefix("SetStatusText|SB1|3|"), 2);
    // Each check's own changes arrive in its own order.
    for (const auto& record : window_.Records()) {
        if (record.text != "StopTimer") {
            continue;
        }
        std::vector<std::string> own;
        for (const auto& other : window_.Records()) {
            if (other.thread == record.thread) {
                own.push_back(other.text);
            }
        }
        EXPECT_THAT(own, ::testing::ElementsAre("StopTimer",
                                                std::string("SetStatusText|SB1|3|") + kFixedNowText,
                                                "RestartTimerIfActive"));
    }
}

TEST_F(ThreadsTest, TaskHeldByAMessageBoxDoesNotHoldAnother) {
    Vars.IP = std::string("192.0.2.7");
    Reply("ERR -009:Try later");
    window_.HoldMessages();
    StartGetIP();
    ASSERT_TRUE(window_.WaitForCall("ShowMessage|Error|-009:Try later|OK"));

    Reply("OK 192.0.2.7 192.0.2.7");
    StartGetIP();
    ASSERT_TRUE(window_.WaitForCall("RestartTimerIfActive"));
    EXPECT_EQ(window_.Count("MessageAnswered|Error"), 0) << "the first check is still held";
    EXPECT_EQ(window_.Count("RestartTimerIfActive"), 1);

    window_.ReleaseMessages();
    EXPECT_TRUE(window_.WaitForCall("RestartTimerIfActive", 2));
}

} // namespace
} // namespace testing_support
