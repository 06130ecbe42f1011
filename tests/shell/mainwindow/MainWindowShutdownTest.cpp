// The end of the program: close, Exit, the update hand-over, the end of the session, and the
// hide to the tray that stands in for it when there is a tray (and a minimise when there is
// none).

#include "mainwindow/MainWindowFixture.h"
#include "shell/components/PopupMenu.h"
#include "shell/components/WindowMessages.h"
#include "shell/components/uPortlynx.h"
#include "support/FormAccess.h"
#include "support/TextRoom.h"
#include "tests/support/QtWait.h"

#include <QAction>
#include <QGuiApplication>
#include <QSessionManager>
#include <QTableWidget>
#include <QTimer>
#include <csignal>

using testing_support::WaitFor;
using namespace std::chrono_literals;

namespace {

class TMainWindowShutdownTest : public TMainWindowTest {
protected:
    // Runs the message loop as the program does, until the window ends it (true) or the
    // deadline passes (false).
    bool RunLoopUntilEnd(std::function<void()> cause) {
        QTimer::singleShot(0, std::move(cause));
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        deadline.start(5000);
        return QCoreApplication::exec() == 0;
    }
    const std::string kBothWidthLists = "[Columns]\nip=32,100,140\nbuddies=32,95,130,95,140\n";
};

TEST_F(TMainWindowShutdownTest, CloseWithMinToTrayHidesAndKeepsRunning) {
    WriteIni("min_to_tray=1\nstart_hidden=0\n");
    auto& w = CreateWindow();
    bool ended = false;
    QObject::connect(&w, &TCorvaleFormMain::terminateRequested, [&] { ended = true; });
    EXPECT_FALSE(w.close());
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(ended);
    EXPECT_TRUE(WaitFor([&] { return Control<QTimer>(w, "Timer1")->isActive(); }))
        << "checking goes on";
}

TEST_F(TMainWindowShutdownTest, CloseWithoutMinToTrayEndsAndSavesBothWidthLists) {
    const TApplicationFontScope font{6}; // a font the design fits: screen and design pixels agree
    WriteIni("start_hidden=0\n");
    auto& w = CreateWindow();
    Control<QTableWidget>(w, "LV1")->setColumnWidth(1, 120);
    EXPECT_TRUE(RunLoopUntilEnd([&] { w.close(); }));
    DestroyWindow();
    const std::string ini = ReadIni();
    EXPECT_NE(ini.find("[Columns]\nip=32,120,140\nbuddies=32,95,130,95,140\n"), std::string::npos)
        << ini;
}

TEST_F(TMainWindowShutdownTest, ExitFromTheTrayMenuEnds) {
    auto& w = CreateWindow();
    EXPECT_TRUE(RunLoopUntilEnd([&] { TriggerAction(w, "Exit1"); }));
    DestroyWindow();
    EXPECT_NE(ReadIni().find(kBothWidthLists), std::string::npos);
}

TEST_F(TMainWindowShutdownTest, UpdateHandOverEndsExactlyLikeExit) {
    auto& w = CreateWindow();
    LoadCompanionModule();
    EXPECT_TRUE(RunLoopUntilEnd([&] { w.PostMessage(WM_QUIT_FOR_UPDATE); }));
    DestroyWindow();
    EXPECT_NE(ReadIni().find(kBothWidthLists), std::string::npos);
    EXPECT_FALSE(IsCompanionLoaded());
}

TEST_F(TMainWindowShutdownTest, EndOfSessionIsNeverRefusedByTheTray) {
    WriteIni("min_to_tray=1\nstart_hidden=0\n");
    auto& w = CreateWindow();
    EXPECT_TRUE(RunLoopUntilEnd([&] {
        w.WindowProcHook(WM_QUERYENDSESSION); // the system asks whether the session may end
        w.close();                            // and then closes the window
    }));
}

TEST_F(TMainWindowShutdownTest, TerminationSignalEndsTheProgramCleanly) {
    WriteIni("min_to_tray=1\n");
    auto& w = CreateWindow();
    EXPECT_TRUE(RunLoopUntilEnd([] { raise(SIGTERM); }));
    EXPECT_TRUE(w.close()) << "the session ends: the tray no longer holds the window back";
    DestroyWindow();
    EXPECT_NE(ReadIni().find(kBothWidthLists), std::string::npos);
}

TEST_F(TMainWindowShutdownTest, WidthListsThatCannotBeWrittenAreReported) {
    auto& w = CreateWindow();
    ASSERT_TRUE(boxes.empty());
    std::filesystem::remove(IniPath());
    std::filesystem::create_directory(IniPath());
    (void)w;
    DestroyWindow();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text,
              QStringLiteral("Unable to write to %1.").arg(QString::fromStdString(IniPath())));
    EXPECT_EQ(boxes[0].Icon, TMsgIcon::Error);
}

// Ended by a signal or by the end of the session, nobody may be there to dismiss a box: the
// error of the way out goes to standard error and the end is not held up.
TEST_F(TMainWindowShutdownTest, UnattendedEndsReportWidthListErrorsOnStandardError) {
    struct TCase {
        const char* How;
        const char* Ini;
        std::function<void(TCorvaleFormMain&)> Cause;
    };
    const TCase cases[] = {
        {"SIGTERM", "min_to_tray=1\n", [](TCorvaleFormMain&) { raise(SIGTERM); }},
        // Shown, so that the quit request has a window to close, which the tray would keep.
        // This is the window's side only: the whole exchange with a real session manager
        // (save-yourself for a shutdown, then Die) is the session-end test of the program.
        {"a quit request after the session's query", "min_to_tray=1\nstart_hidden=0\n",
         [](TCorvaleFormMain& w) {
             w.WindowProcHook(WM_QUERYENDSESSION);
             // What the session manager's end becomes in the application: a request to quit
             // that closes the windows first.
             QEvent quit(QEvent::Quit);
             QCoreApplication::sendEvent(qApp, &quit);
         }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.How);
        boxes.clear();
        WriteIni(c.Ini);
        auto& w = CreateWindow();
        bool endedByTheWindow = false;
        QObject::connect(&w, &TCorvaleFormMain::terminateRequested,
                         [&] { endedByTheWindow = true; });
        std::filesystem::remove(IniPath());
        std::filesystem::create_directory(IniPath());
        testing::internal::CaptureStderr();
        EXPECT_TRUE(RunLoopUntilEnd([&] { c.Cause(w); }));
        EXPECT_TRUE(endedByTheWindow) << "the window itself ends the program";
        DestroyWindow();
        const std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(boxes.empty()) << "no box";
        EXPECT_NE(errors.find("Unable to write to " + IniPath() + "."), std::string::npos)
            << errors;
        std::filesystem::remove(IniPath());
    }
}

TEST_F(TMainWindowShutdownTest, ExitByTheUserStillReportsInABox) {
    auto& w = CreateWindow();
    std::filesystem::remove(IniPath());
    std::filesystem::create_directory(IniPath());
    EXPECT_TRUE(RunLoopUntilEnd([&] { TriggerAction(w, "_Exit"); }));
    DestroyWindow();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Icon, TMsgIcon::Error);
}

// A logout that was cancelled leaves the program running with its user: a later close is the
// user's, so what goes wrong is shown in a box, not written where nobody looks.
TEST_F(TMainWindowShutdownTest, CloseAfterACancelledLogoutReportsInABox) {
    WriteIni("start_hidden=0\n");
    auto& w = CreateWindow();
    w.WindowProcHook(WM_QUERYENDSESSION); // the logout asks, then is cancelled
    std::filesystem::remove(IniPath());
    std::filesystem::create_directory(IniPath());
    testing::internal::CaptureStderr();
    EXPECT_TRUE(RunLoopUntilEnd([&] { w.close(); }));
    DestroyWindow();
    const std::string errors = testing::internal::GetCapturedStderr();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text,
              QStringLiteral("Unable to write to %1.").arg(QString::fromStdString(IniPath())));
    EXPECT_EQ(errors.find("Unable to write to"), std::string::npos) << errors;
}

// Without a notification area a hidden window could never be reached again: every hide
// becomes a minimise until a tray appears.
TEST_F(TMainWindowShutdownTest, WithoutATrayHidingMinimisesUntilOneAppears) {
    trayAvailable = false;
    WriteIni("min_to_tray=1\n");
    auto& w = CreateWindow();
    ASSERT_TRUE(WaitFor([&] { return w.isMinimized(); }));
    EXPECT_TRUE(w.isVisible()) << "hide at start";

    w.showNormal();
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.isMinimized()) << "close with min_to_tray";

    w.showNormal();
    TriggerAction(w, "_OpenClose");
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.isMinimized()) << "_OpenClose";

    TriggerAction(w, "_OpenClose"); // a minimised window counts as not open: it comes back
    EXPECT_FALSE(w.isMinimized());

    trayAvailable = true; // a tray host started
    TriggerAction(w, "_OpenClose");
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(tray.Sink != nullptr);
}

} // namespace
