#include "mainwindow/MainWindowFixture.h"

#include "core/Net.h"
#include "core/uCfg.h"
#include "core/uClock.h"
#include "core/uEndpoint.h"
#include "shell/components/PopupMenu.h"
#include "shell/components/uPortlynx.h"
#include "shell/mainwindow/StatusPanels.h"
#include "support/FormAccess.h"
#include "tests/support/QtWait.h"

#include <QAction>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QTableWidget>
#include <cstdlib>
#include <fstream>
#include <sstream>

using testing_support::WaitFor;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::ScriptedReply;

TUrlRecorder::TUrlRecorder() {
    for (const char* scheme : {"http", "https", "mailto"}) {
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "Open");
    }
}

TUrlRecorder::~TUrlRecorder() {
    for (const char* scheme : {"http", "https", "mailto"}) {
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
}

void TUrlRecorder::Open(const QUrl& url) {
    Opened.push_back(url.toString());
}

void TMainWindowTest::SetUp() {
    fs::create_directory(folder / "runtime");
    fs::permissions(folder / "runtime", fs::perms::owner_all);
    socketPath = QString::fromStdString((folder / "runtime" / "Corvale_EXE").string());

    // The configuration is filled once per process, as the program does: a task of an
    // earlier test may still be reading it. Only the paths change, which only the window
    // thread reads, and the shared variables, which are made for being changed any time.
    static const bool configured = [] {
        InitCfg("/nonexistent/corvale", "TESTHOST");
        return true;
    }();
    (void)configured;
    Cfg.AppPath = folder.string() + "/";
    Cfg.IniFile = Cfg.AppPath + "corvale.ini";
    Vars.IP = std::string();
    Vars.UserID = std::string();
    Vars.Password = std::string();
    Vars.LoginID = std::string();
    InitCompanionPathForTests(Cfg.AppPath);
    TNetLimits limits;
    limits.PerRead = 2s;
    SetNetLimitsForTests(limits);
    service.SetFallback(ScriptedReply::Http(kGetIPReply));
    WriteIni("");
}

TMsgAnswer TMainWindowTest::AnswerBox(const TMessageBoxRequest& request) {
    boxes.push_back(request);
    if (!answers.empty()) {
        const TMsgAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    return request.Buttons == TMsgButtons::YesNo ? TMsgAnswer::No : TMsgAnswer::OK;
}

void TMainWindowTest::TearDown() {
    DestroyWindow();
    WaitUntilServiceIsQuiet();
    SetNetLimitsForTests(TNetLimits{});
    SetServiceEndpoint({std::string(kDefaultServiceHost), kDefaultServicePort});
}

// Tasks of this test that are still on their way must not reach the next test's service.
void TMainWindowTest::WaitUntilServiceIsQuiet() {
    QElapsedTimer quiet;
    quiet.start();
    std::size_t seen = service.Requests().size();
    WaitFor([&] {
        const std::size_t now = service.Requests().size();
        if (now != seen) {
            seen = now;
            quiet.restart();
        }
        return quiet.elapsed() > 150;
    });
}

std::string TMainWindowTest::IniPath() const {
    return (folder / "corvale.ini").string();
}

void TMainWindowTest::WriteIni(const std::string& lines) {
    std::ofstream(IniPath()) << "[Main]\nservice=127.0.0.1:" << service.Port() << "\n" << lines;
}

std::string TMainWindowTest::ReadIni() const {
    std::ifstream in(IniPath());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

fs::path TMainWindowTest::AutostartEntry() const {
    return folder / "config" / "autostart" / "Corvale.desktop";
}

TCorvaleFormMain& TMainWindowTest::CreateWindow(bool show) {
    TCorvaleFormMain::TSetup setup;
    setup.MessageSocketPath = socketPath;
    setup.MakeTrayShell = [this] { return TFakeTrayShell::For(tray); };
    setup.TrayAvailable = [this] { return trayAvailable; };
    setup.ProgramPath = (folder / "corvale").string();
    window = std::make_unique<TCorvaleFormMain>(std::move(setup));
    if (show) {
        window->show();
        // The first show posts the hide at start; let it and the first check's changes come.
        QCoreApplication::processEvents();
    }
    return *window;
}

void TMainWindowTest::DestroyWindow() {
    window.reset();
}

bool TMainWindowTest::WaitForFirstAddress() {
    return WaitFor([this] {
        return Control<QTableWidget>(*window, "LV1")->rowCount() == 1 &&
               Control<TStatusPanelBar>(*window, "SB1")->PanelText(1) ==
                   QStringLiteral("192.0.2.7");
    });
}

void TMainWindowTest::LoadCompanionModule() {
    fs::copy_file(PLX_RECORDING_MODULE, folder / "portlynx.dll");
    emit Control<TPopupMenu>(*window, "PopupTray")->aboutToShow();
    TriggerAction(*window, "Portlynx1");
    ASSERT_TRUE(IsCompanionLoaded());
    ASSERT_TRUE(Action(*window, "_Portlynx")->isChecked());
}

std::vector<std::string> TMainWindowTest::Requests(const std::string& action) const {
    std::vector<std::string> matching;
    for (const std::string& request : service.Requests()) {
        if (request.find("action=" + action + "&") != std::string::npos ||
            request.find("action=" + action + " ") != std::string::npos) {
            matching.push_back(request);
        }
    }
    return matching;
}

bool TMainWindowTest::WaitForRequests(const std::string& action, std::size_t count) {
    return WaitFor([&] { return Requests(action).size() >= count; });
}
