// The main window's messages: its own private ones, the registered message and the two that
// other programs send, and the end of the system session.

#include "core/uCfg.h"
#include "platform/LocalMessages.h"
#include "platform/TerminationSignal.h"
#include "shell/components/WindowMessages.h"
#include "shell/components/uPortlynx.h"
#include "shell/mainwindow/LocalMessageServer.h"
#include "shell/mainwindow/fMain.h"

#include <QAction>
#include <QEvent>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <cstdio>

std::uint32_t RegisteredMessage() {
    static const std::uint32_t number =
        platform::RegisterWindowMessage(platform::kClientMessageName);
    return number;
}

std::int64_t TCorvaleFormMain::WindowProcHook(std::uint32_t message) {
    if (message == RegisteredMessage()) {
        return static_cast<std::int64_t>(winId());
    }
    return WindowProc(message);
}

std::int64_t TCorvaleFormMain::WindowProc(std::uint32_t message) {
    switch (message) {
    case WM_HIDE_AT_START:
        if (Settings.StartHidden) {
            HideWindow();
        }
        return 0;
    case WM_QUIT_FOR_UPDATE:
        actExitExecute();
        return 0;
    case WM_QUERYENDSESSION:
        QueryEndSession();
        return 1;
    case WM_COMPANION_UNLOAD:
        return ReleaseCompanion() ? 1 : 0;
    case WM_QUERY_ID_LENGTH:
        // The stored 8-bit text, counted in bytes as the other program will read it.
        return static_cast<std::int64_t>(Vars.UserID.Load().size());
    default:
        return 0;
    }
}

void TCorvaleFormMain::PostMessage(std::uint32_t message) {
    QMetaObject::invokeMethod(
        this, [this, message] { WindowProcHook(message); }, Qt::QueuedConnection);
}

std::int64_t TCorvaleFormMain::AnswerForeignMessage(std::uint32_t message) {
    const bool accepted = message == RegisteredMessage() || message == WM_COMPANION_UNLOAD ||
                          message == WM_QUERY_ID_LENGTH;
    return accepted ? WindowProcHook(message) : 0;
}

void TCorvaleFormMain::StartMessageListener() {
    if (setup_.MessageSocketPath.isEmpty() || messageServer_) {
        return;
    }
    messageServer_ = new TLocalMessageServer(
        [this](std::uint32_t message) { return AnswerForeignMessage(message); }, this);
    if (!messageServer_->Listen(setup_.MessageSocketPath)) {
        std::fprintf(stderr, "corvale: cannot listen for messages at %s\n",
                     qPrintable(setup_.MessageSocketPath));
    }
}

// The session manager's question whether the session may end, and SIGTERM (and SIGINT,
// SIGHUP), which is how the end of a session reaches a program that has no session manager.
// Neither can be refused by hiding to the tray.
void TCorvaleFormMain::WatchEndOfSession() {
    // The autostart entry is the one way to start with the session: a session manager that
    // restored the client as well would start it behind the user's back (with start with
    // the system off) or twice. Qt asks for a restart unless told otherwise, on every save.
    const auto neverRestart = [](QSessionManager& manager) {
        manager.setRestartHint(QSessionManager::RestartNever);
    };
    connect(qGuiApp, &QGuiApplication::saveStateRequest, this, neverRestart);
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this,
            [this, neverRestart](QSessionManager& manager) {
                neverRestart(manager);
                WindowProcHook(WM_QUERYENDSESSION);
            });
    // The session manager's end (and nothing else in this program) asks the application to
    // quit; the windows are closed while that request is handled.
    qGuiApp->installEventFilter(this);
    // A loop that ends without the program's own say ended with the session.
    connect(qGuiApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (!endBy_) {
            endBy_ = TEndBy::SessionEnd;
        }
    });
    const int fd = platform::TerminationSignalFd();
    if (fd < 0) {
        return;
    }
    terminationNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(terminationNotifier_, &QSocketNotifier::activated, this, [this, fd] {
        platform::DrainTerminationSignals(fd);
        WindowProcHook(WM_QUERYENDSESSION);
        Terminate(TEndBy::Signal);
    });
}

void TCorvaleFormMain::QueryEndSession() {
    SessionEnding = true;
}

bool TCorvaleFormMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qGuiApp && event->type() == QEvent::Quit && !closingOnQuitRequest_) {
        closingOnQuitRequest_ = true;
        // Queued: runs once the request, and the closes it makes, have been handled.
        QMetaObject::invokeMethod(
            this, [this] { closingOnQuitRequest_ = false; }, Qt::QueuedConnection);
    }
    return QWidget::eventFilter(watched, event);
}
