// The window messages: the ones other programs send, through the corvale-msg tool over the
// real local socket, and the window's own.

#include "core/uCfg.h"
#include "mainwindow/MainWindowFixture.h"
#include "platform/LocalMessages.h"
#include "shell/components/WindowMessages.h"
#include "shell/components/uPortlynx.h"
#include "support/FormAccess.h"
#include "tests/support/QtWait.h"

#include <QAction>
#include <QProcess>
#include <QTimer>
#include <filesystem>
#include <fstream>

using testing_support::RunEventsFor;
using testing_support::WaitFor;
using namespace std::chrono_literals;

namespace {

class TMainWindowMessagesTest : public TMainWindowTest {
protected:
    struct TToolResult {
        int ExitCode = -1;
        QString Output;
    };
    // Runs corvale-msg as another program would, the window thread answering meanwhile.
    TToolResult SendWithTool(const QString& message) {
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("CORVALE_RUNTIME_DIR"),
                   QString::fromStdString((folder / "runtime").string()));
        tool.setProcessEnvironment(env);
        tool.start(QStringLiteral(CORVALE_MSG), {message});
        EXPECT_TRUE(WaitFor([&] { return tool.state() == QProcess::NotRunning; }));
        tool.waitForFinished(1000);
        return {tool.exitCode(), QString::fromUtf8(tool.readAllStandardOutput()).trimmed()};
    }
};

TEST_F(TMainWindowMessagesTest, OtherProgramsGetTheWindowIdTheIdLengthAndTheRelease) {
    WriteIni("id=jdoe\n");
    auto& w = CreateWindow();
    const TToolResult handle = SendWithTool(QStringLiteral("Corvale_EXE"));
    EXPECT_EQ(handle.ExitCode, 0);
    EXPECT_EQ(handle.Output, QString::number(w.winId()));
    EXPECT_NE(w.winId(), 0u);

    const TToolResult length = SendWithTool(QStringLiteral("0x7E9"));
    EXPECT_EQ(length.ExitCode, 0);
    EXPECT_EQ(length.Output, QStringLiteral("4"));

    const TToolResult release = SendWithTool(QStringLiteral("2024"));
    EXPECT_EQ(release.ExitCode, 0);
    EXPECT_EQ(release.Output, QStringLiteral("1"));
    LoadCompanionModule();
    EXPECT_EQ(SendWithTool(QStringLiteral("0x7E8")).Output, QStringLiteral("1"));
    EXPECT_FALSE(IsCompanionLoaded());

    // The window's own messages are not for other programs.
    bool ended = false;
    QObject::connect(&w, &TCorvaleFormMain::terminateRequested, &w, [&ended] { ended = true; });
    const TToolResult quit = SendWithTool(QStringLiteral("0x402"));
    EXPECT_EQ(quit.Output, QStringLiteral("0"));
    RunEventsFor(50ms);
    EXPECT_FALSE(ended);
}

TEST_F(TMainWindowMessagesTest, IdLengthIsZeroWithoutAnIdAndCountsBytesOfTheStoredText) {
    WriteIni("min_to_tray=1\n");
    auto& w = CreateWindow(false);
    EXPECT_EQ(w.AnswerForeignMessage(WM_QUERY_ID_LENGTH), 0);
    const std::pair<std::string, int> ids[] = {
        {"jdoe", 4},
        {"J\xC3\xBCrgen", 7}, // stored as UTF-8: the two bytes of the umlaut both count
        {"J\xFCrgen", 6},     // stored in Latin-1: one byte, and no decoding error
    };
    for (const auto& [id, bytes] : ids) {
        Vars.UserID = id;
        EXPECT_EQ(w.AnswerForeignMessage(WM_QUERY_ID_LENGTH), bytes) << id;
    }
    EXPECT_EQ(w.AnswerForeignMessage(RegisteredMessage()), static_cast<std::int64_t>(w.winId()));
    EXPECT_EQ(w.AnswerForeignMessage(WM_HIDE_AT_START), 0);
    EXPECT_EQ(w.AnswerForeignMessage(WM_QUERYENDSESSION), 0);
    EXPECT_FALSE(w.close()) << "the session is not ending: the close hides to the tray";
}

TEST_F(TMainWindowMessagesTest, NoAnswerOnceTheWindowIsGone) {
    CreateWindow();
    ASSERT_TRUE(std::filesystem::exists(socketPath.toStdString()));
    DestroyWindow();
    EXPECT_FALSE(std::filesystem::exists(socketPath.toStdString()));
    const TToolResult result = SendWithTool(QStringLiteral("Corvale_EXE"));
    EXPECT_EQ(result.ExitCode, 1);
}

TEST_F(TMainWindowMessagesTest, ASocketLeftByACrashedCopyIsReplaced) {
    { std::ofstream stale(socketPath.toStdString()); }
    CreateWindow();
    EXPECT_EQ(SendWithTool(QStringLiteral("0x7E8")).Output, QStringLiteral("1"));
}

TEST_F(TMainWindowMessagesTest, TheQueryEndSessionMessageIsAnsweredOneWithoutAsking) {
    WriteIni("min_to_tray=1\n");
    auto& w = CreateWindow(false);
    EXPECT_EQ(w.WindowProcHook(WM_QUERYENDSESSION), 1);
    EXPECT_TRUE(w.close()) << "the session ends: the tray no longer holds the window back";
}

} // namespace
