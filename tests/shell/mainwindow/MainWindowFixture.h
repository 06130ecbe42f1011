#pragma once
// The main window against a scripted service on 127.0.0.1, with its settings file, autostart
// folder and runtime folder in a fresh temporary folder, a recording notification area, a
// fixed clock, and every message box answered by the test.

#include "core/uClock.h"
#include "shell/components/MessageBox.h"
#include "shell/mainwindow/fMain.h"
#include "support/FakeTrayShell.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/ScopedSeam.h"
#include "tests/support/TempFolder.h"

#include <QObject>
#include <QUrl>
#include <deque>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

// Records the addresses the program asks the desktop to open, instead of opening them.
class TUrlRecorder : public QObject {
    Q_OBJECT

public:
    TUrlRecorder();
    ~TUrlRecorder() override;
    std::vector<QString> Opened;

public slots:
    void Open(const QUrl& url);
};

class TMainWindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The settings file beside the program (the service line is written by SetUp).
    void WriteIni(const std::string& lines);
    std::string ReadIni() const;
    std::string IniPath() const;
    std::filesystem::path AutostartEntry() const;

    // Creates the main window (FormCreate runs) and, unless told otherwise, shows it as the
    // program does and lets the first show's consequences happen.
    TCorvaleFormMain& CreateWindow(bool show = true);
    void DestroyWindow();

    // The start-up check has recorded the address: the history row, Vars.IP and panel 1 of
    // SB1 (set in this order, the last after Vars.IP).
    bool WaitForFirstAddress();

    // Puts a loadable companion module beside the program and loads it through the tray menu.
    void LoadCompanionModule();

    // The requests the service received for one action ("getip", ...), in order.
    std::vector<std::string> Requests(const std::string& action) const;
    bool WaitForRequests(const std::string& action, std::size_t count);

    // Boxes: each is recorded and answered with the next queued answer, else OK (or No).
    std::vector<TMessageBoxRequest> boxes;
    std::deque<TMsgAnswer> answers;
    testing_support::ScopedSeam<TMessageBoxHook> boxHook_{
        SetMessageBoxHookForTests,
        [this](const TMessageBoxRequest& request) { return AnswerBox(request); }};
    // 6 December 2026, 12:30:05; the report's 100 ms wait is skipped.
    testing_support::ScopedSeam<TClockSeam> clock_{
        SetClockForTests,
        TClockSeam{[] { return 46362.0 + (12 * 3600 + 30 * 60 + 5) / 86400.0; }, [](unsigned) {}}};

    testing_support::TempFolder temp_;
    std::filesystem::path folder = temp_.Path();
    testing_support::ScopedEnv runtimeDir_{"CORVALE_RUNTIME_DIR", (folder / "runtime").string()};
    testing_support::ScopedEnv configHome_{"XDG_CONFIG_HOME", (folder / "config").string()};
    testing_support::LoopbackServer service;
    TTrayShellLog tray;
    bool trayAvailable = true;
    TUrlRecorder urls;
    QString socketPath;
    std::unique_ptr<TCorvaleFormMain> window;

private:
    TMsgAnswer AnswerBox(const TMessageBoxRequest& request);
    void WaitUntilServiceIsQuiet();
};

// The reply the service gives to every request unless a test queues others: this computer is
// seen at 192.0.2.7, which is also on record.
inline constexpr const char* kGetIPReply = "OK 192.0.2.7 192.0.2.7";
