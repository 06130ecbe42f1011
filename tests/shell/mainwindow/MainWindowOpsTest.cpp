// The window changes the tasks make, called from task threads as the tasks do, and the
// owner-less boxes they wait on.

#include "core/WindowOps.h"
#include "mainwindow/MainWindowFixture.h"
#include "shell/components/SysTrayIcon.h"
#include "shell/mainwindow/StatusPanels.h"
#include "support/FormAccess.h"
#include "tests/support/QtWait.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <future>

using testing_support::RunEventsFor;
using testing_support::WaitFor;
using namespace std::chrono_literals;

namespace {

class TMainWindowOpsTest : public TMainWindowTest {
protected:
    // Runs `calls` on a task thread, the window thread handling its events meanwhile.
    template <typename R> R FromTask(std::function<R()> calls) {
        auto result = std::async(std::launch::async, std::move(calls));
        EXPECT_TRUE(WaitFor([&] { return result.wait_for(0ms) == std::future_status::ready; }));
        return result.get();
    }
    void FromTask(std::function<void()> calls) {
        FromTask<bool>([&] {
            calls();
            return true;
        });
    }

    static std::vector<QMessageBox*> OpenBoxes() {
        std::vector<QMessageBox*> found;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                found.push_back(box);
            }
        }
        return found;
    }
};

TEST_F(TMainWindowOpsTest, ChangesArriveOnTheWindowInOrder) {
    WriteIni("start_hidden=0\n");
    auto& w = CreateWindow();
    ASSERT_TRUE(WaitForFirstAddress());
    FromTask([] {
        IWindowOps& ops = WindowOps();
        ops.AppendHistoryRow("203.0.113.9", "Dec 07 2026");
        ops.SetStatusText(TStatusBar::SB1, 1, "203.0.113.9");
        ops.SetStatusText(TStatusBar::SB2, 0, "Getting...");
        ops.SetTrayHint("Corvale 0.3.11 (build 25): 203.0.113.9");
        ops.SetCaption("Corvale 0.3.11 - (INVALID ID)");
        ops.BeginBuddyList();
        ops.AppendBuddyRow("alice", "home-pc", "203.0.113.5", "Jan 05 2024");
        ops.AppendBuddyRow("bob", "laptop", "203.0.113.6", "Jan 06 2024");
        ops.EndBuddyList();
        EXPECT_EQ(ops.BuddyRowCount(), 2);
        EXPECT_TRUE(ops.IsActiveChecked());
    });
    EXPECT_EQ(Control<QTableWidget>(w, "LV1")->rowCount(), 2);
    EXPECT_EQ(Control<QTableWidget>(w, "LV1")->item(1, 0)->text(), QStringLiteral("2"));
    EXPECT_EQ(Control<QTableWidget>(w, "LV1")->item(1, 1)->text(), QStringLiteral("203.0.113.9"));
    EXPECT_EQ(Control<TStatusPanelBar>(w, "SB1")->PanelText(1), QStringLiteral("203.0.113.9"));
    EXPECT_EQ(Control<TStatusPanelBar>(w, "SB2")->PanelText(0), QStringLiteral("Getting..."));
    EXPECT_EQ(Control<TSysTrayIcon>(w, "SysTrayIcon1")->Hint(),
              QStringLiteral("Corvale 0.3.11 (build 25): 203.0.113.9"));
    EXPECT_EQ(tray.Last().Data.Tip, QStringLiteral("Corvale 0.3.11 (build 25): 203.0.113.9"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Corvale 0.3.11 - (INVALID ID)"));
    ASSERT_EQ(Control<QTableWidget>(w, "LV2")->rowCount(), 2);
    EXPECT_EQ(Control<QTableWidget>(w, "LV2")->item(1, 0)->text(), QStringLiteral("2"));
    EXPECT_EQ(Control<QTableWidget>(w, "LV2")->item(1, 1)->text(), QStringLiteral("bob"));
    EXPECT_EQ(Control<QTableWidget>(w, "LV2")->item(1, 3)->text(), QStringLiteral("203.0.113.6"));
    EXPECT_TRUE(Control<QTableWidget>(w, "LV2")->updatesEnabled());

    FromTask([] {
        WindowOps().BeginBuddyList(); // a new fetch replaces the rows
        WindowOps().EndBuddyList();
    });
    EXPECT_EQ(Control<QTableWidget>(w, "LV2")->rowCount(), 0);
}

TEST_F(TMainWindowOpsTest, TimerFollowsActiveAfterACheck) {
    auto& w = CreateWindow();
    // The start-up check has ended: it stopped the timer and started it again.
    ASSERT_TRUE(WaitForFirstAddress());
    ASSERT_TRUE(WaitFor([&] { return Control<QTimer>(w, "Timer1")->isActive(); }));
    FromTask([] { WindowOps().StopTimer(); });
    EXPECT_FALSE(Control<QTimer>(w, "Timer1")->isActive());
    FromTask([] { WindowOps().RestartTimerIfActive(); });
    EXPECT_TRUE(Control<QTimer>(w, "Timer1")->isActive());
    TriggerAction(w, "_Active");
    FromTask([] { WindowOps().RestartTimerIfActive(); });
    EXPECT_FALSE(Control<QTimer>(w, "Timer1")->isActive());
    EXPECT_FALSE(FromTask<bool>([] { return WindowOps().IsActiveChecked(); }));
}

TEST_F(TMainWindowOpsTest, TheUpdateHandOverEndsTheProgramLikeExit) {
    auto& w = CreateWindow();
    bool ended = false;
    QObject::connect(&w, &TCorvaleFormMain::terminateRequested, [&] { ended = true; });
    FromTask([] { WindowOps().PostQuitForUpdate(); }); // posted: the task does not wait
    EXPECT_TRUE(WaitFor([&] { return ended; }));
}

TEST_F(TMainWindowOpsTest, TaskBoxesAreNonModalOwnerlessAndSeveralAtOnce) {
    SetMessageBoxHookForTests({}); // real boxes
    WriteIni("start_hidden=0\n");
    auto& w = CreateWindow();
    auto first = std::async(std::launch::async, [] {
        return WindowOps().ShowMessage("-001:Server timeout !", "Error", TMsgButtons::OK);
    });
    auto second = std::async(std::launch::async, [] {
        return WindowOps().ShowMessage("Do you want to update ?", "Updates", TMsgButtons::YesNo);
    });
    ASSERT_TRUE(WaitFor([&] { return OpenBoxes().size() == 2; }));
    for (QMessageBox* box : OpenBoxes()) {
        EXPECT_EQ(box->windowModality(), Qt::NonModal);
        EXPECT_EQ(box->parentWidget(), nullptr);
        EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    }
    // The window stays usable while the tasks wait.
    TriggerAction(w, "_CheckNow");
    EXPECT_TRUE(WaitForRequests("getip", 2));

    QMessageBox* question = nullptr;
    for (QMessageBox* box : OpenBoxes()) {
        if (box->windowTitle() == QStringLiteral("Updates")) {
            question = box;
        }
    }
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(question->text(), QStringLiteral("Do you want to update ?"));
    question->button(QMessageBox::Yes)->click();
    ASSERT_TRUE(WaitFor([&] { return second.wait_for(0ms) == std::future_status::ready; }));
    EXPECT_EQ(second.get(), TMsgAnswer::Yes);
    EXPECT_EQ(first.wait_for(0ms), std::future_status::timeout) << "the other box still waits";
    OpenBoxes().at(0)->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(WaitFor([&] { return first.wait_for(0ms) == std::future_status::ready; }));
    EXPECT_EQ(first.get(), TMsgAnswer::OK);
}

// Tasks waiting on a box or a window change when the window goes return at once, as if
// the box had been dismissed, and the boxes close; later calls change nothing.
TEST_F(TMainWindowOpsTest, TasksWaitingWhenTheWindowGoesAreReleased) {
    SetMessageBoxHookForTests({});
    CreateWindow();
    auto question = std::async(std::launch::async, [] {
        return WindowOps().ShowMessage("Do you want to update ?", "Updates", TMsgButtons::YesNo);
    });
    auto error = std::async(std::launch::async, [] {
        return WindowOps().ShowMessage("-001:Server timeout !", "Error", TMsgButtons::OK);
    });
    ASSERT_TRUE(WaitFor([&] { return OpenBoxes().size() == 2; }));
    // A third task blocks in a window change the window thread will never get to.
    std::promise<void> started;
    auto change = std::async(std::launch::async, [&] {
        started.set_value();
        WindowOps().AppendHistoryRow("198.51.100.1", "now");
        return WindowOps().BuddyRowCount();
    });
    started.get_future().wait();
    std::this_thread::sleep_for(20ms);

    DestroyWindow();
    ASSERT_EQ(question.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(question.get(), TMsgAnswer::No);
    ASSERT_EQ(error.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(error.get(), TMsgAnswer::OK);
    ASSERT_EQ(change.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(change.get(), 0);
    RunEventsFor(20ms);
    EXPECT_TRUE(OpenBoxes().empty());

    // Nothing reaches a window that is gone, nor blocks.
    EXPECT_EQ(WindowOps().ShowMessage("late", "Error", TMsgButtons::YesNo), TMsgAnswer::No);
    WindowOps().SetCaption("late");
    WindowOps().PostQuitForUpdate();
}

TEST_F(TMainWindowOpsTest, ABoxFromTheWindowThreadItselfIsModal) {
    CreateWindow(false);
    answers.push_back(TMsgAnswer::Yes);
    EXPECT_EQ(WindowOps().ShowMessage("Really ?", "Updates", TMsgButtons::YesNo), TMsgAnswer::Yes);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Caption, QStringLiteral("Updates"));
}

} // namespace
