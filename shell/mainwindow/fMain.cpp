// The main window's life: creation and the start-up sequence, the first show, the close
// request and the destruction.

#include "shell/mainwindow/fMain.h"

#include "core/uCfg.h"
#include "core/uEndpoint.h"
#include "core/uTasksIP.h"
#include "platform/System.h"
#include "platform/TerminationSignal.h"
#include "shell/components/Icons.h"
#include "shell/components/MessageBox.h"
#include "shell/components/PopupMenu.h"
#include "shell/components/SysTrayIcon.h"
#include "shell/components/WindowMessages.h"
#include "shell/components/uPortlynx.h"
#include "shell/mainwindow/AboutSheet.h"
#include "shell/mainwindow/ActionList.h"
#include "shell/mainwindow/LocalMessageServer.h"
#include "shell/mainwindow/OptionsSheet.h"
#include "shell/mainwindow/fMainWindowOps.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>

namespace {

constexpr Qt::WindowFlags kTitleBarButtons =
    Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
    Qt::WindowCloseButtonHint;

} // namespace

TCorvaleFormMain::TCorvaleFormMain(TSetup setup)
    : QWidget(nullptr, kTitleBarButtons), setup_(std::move(setup)) {
    setObjectName(QStringLiteral("CorvaleFormMain"));
    setWindowTitle(QStringLiteral("Corvale"));
    setWindowIcon(Icons::Tray());

    CreateComponents();
    CreatePages();
    SizeToDesign();
    CreateTrayIcon();
    NameControlsForAssistiveTechnology();
    ConnectHandlers();
    PlaceInCentre();

    // From here on the tasks reach this window.
    AttachWindowOps(this);
    SysTrayIcon1->Loaded();
    RunHandler([this] { FormCreate(); });
}

namespace {

void ReportOnStandardError(const QString& errorText) {
    std::fprintf(stderr, "corvale: %s\n", qPrintable(ApplicationErrorText(errorText)));
}

// The box waits for a user, but a termination signal must still end the program at once:
// it closes the box and leaves the text where logs keep it.
void ShowApplicationErrorUntilTerminated(const QString& errorText) {
    std::unique_ptr<QSocketNotifier> signalWatch;
    if (const int fd = platform::TerminationSignalFd(); fd >= 0) {
        signalWatch = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(signalWatch.get(), &QSocketNotifier::activated, [fd, errorText] {
            platform::DrainTerminationSignals(fd);
            ReportOnStandardError(errorText);
            if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                box->reject();
            }
        });
    }
    ShowApplicationError(errorText);
}

} // namespace

TCorvaleFormMain::~TCorvaleFormMain() {
    try {
        FormDestroy();
    } catch (const std::exception& error) {
        if (EndsUnattended()) {
            // Nobody may be there to dismiss a box, and a session end or a service manager
            // waits only so long before it kills the program: say it where logs keep it.
            ReportOnStandardError(QString::fromUtf8(error.what()));
            return;
        }
        // The message loop has ended: this box is the only thing left to wait for.
        ShowApplicationErrorUntilTerminated(QString::fromUtf8(error.what()));
    }
}

void TCorvaleFormMain::ConnectHandlers() {
    connect(Timer1, &QTimer::timeout, this, [this] { RunHandler([this] { Timer1Timer(); }); });
    connect(PageControl1, &QTabWidget::currentChanged, this,
            [this](int index) { RunHandler([this, index] { PageControl1Change(index); }); });
    // The pages' buttons run the window's commands, as the tool buttons and menu items do.
    connect(TabSheet3, &TOptionsSheet::createIdClicked, actCreateID, &QAction::trigger);
    connect(TabSheet3, &TOptionsSheet::loginClicked, actLogin, &QAction::trigger);
    connect(TabSheet3, &TOptionsSheet::saveClicked, actSave, &QAction::trigger);
    connect(TabSheet3, &TOptionsSheet::cancelClicked, actCancel, &QAction::trigger);
    connect(TabSheet4, &TAboutSheet::checkUpdatesClicked, actCheckUpdates, &QAction::trigger);
    connect(TabSheet4, &TAboutSheet::okClicked, this,
            [this] { RunHandler([this] { Button1Click(); }); });
    connect(TabSheet4, &TAboutSheet::homePageClicked, this,
            [this] { RunHandler([this] { Lbl_webClick(); }); });
    connect(TabSheet4, &TAboutSheet::contactClicked, this,
            [this] { RunHandler([this] { Lbl_mailClick(); }); });
    const auto popupAt = [](QTableWidget* list, TPopupMenu* menu) {
        connect(list, &QWidget::customContextMenuRequested, menu,
                [list, menu](const QPoint& at) { menu->popup(list->viewport()->mapToGlobal(at)); });
    };
    popupAt(LV1, PopupLV1);
    popupAt(LV2, PopupLV2);
    // The copy actions follow the selections.
    connect(LV1, &QTableWidget::itemSelectionChanged, ActionList1, &TActionList::ScheduleUpdate);
    connect(LV2, &QTableWidget::itemSelectionChanged, ActionList1, &TActionList::ScheduleUpdate);
}

void TCorvaleFormMain::PlaceInCentre() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desktop = screen->availableGeometry();
        move(desktop.center() - QPoint(width() / 2, height() / 2));
    }
}

void TCorvaleFormMain::FormCreate() {
    StartMessageListener(); // the window procedure hook: other programs may now ask
    WatchEndOfSession();
    UpdateCaption();
    SelectPage(0);
    FirstShow = true;
    SessionEnding = false;
    Settings.Startup = false;
    ActiveFlag = false;
    // Loading applies the interval rule, sets the timer's period (it stays stopped) and
    // re-applies start with the system and stay-on-top. Widths read before a failing step
    // are still applied.
    TListWidths widths = ListWidths();
    try {
        LoadSettingsAtStartup(SettingsEnv(), Settings, widths);
    } catch (...) {
        SetServiceEndpoint(Settings.Service);
        ApplyListWidths(widths);
        throw;
    }
    SetServiceEndpoint(Settings.Service);
    ApplyListWidths(widths);
    // Executed once: checked now, so the first check starts at once and the timer runs.
    actActive->trigger();
}

void TCorvaleFormMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    RunHandler([this] { FormShow(); });
}

void TCorvaleFormMain::FormShow() {
    if (FirstShow) {
        // Posted: it is handled once the window has appeared.
        PostMessage(WM_HIDE_AT_START);
        FirstShow = false;
    }
}

void TCorvaleFormMain::closeEvent(QCloseEvent* event) {
    if (FormCloseQuery()) {
        event->accept();
        // A close while the system asks the program to quit comes from the session's end;
        // any other close is the user's, even after a logout that was cancelled.
        Terminate(closingOnQuitRequest_ ? TEndBy::SessionEnd : TEndBy::User);
    } else {
        event->ignore();
    }
}

bool TCorvaleFormMain::FormCloseQuery() {
    if (!SessionEnding && Settings.MinToTray) {
        HideWindow();
        return false;
    }
    return true;
}

void TCorvaleFormMain::FormDestroy() {
    if (destroyed_) {
        return;
    }
    destroyed_ = true;
    // First cut every way in: other programs, signals, and the tasks, whose waiting calls
    // (boxes included) return at once with their fallback answers.
    delete messageServer_;
    messageServer_ = nullptr;
    delete terminationNotifier_;
    terminationNotifier_ = nullptr;
    DetachWindowOps(this);
    Timer1->stop();
    SaveColumns();
    UnloadCompanion();
}

void TCorvaleFormMain::Terminate(TEndBy by) {
    endBy_ = by;
    emit terminateRequested();
    QCoreApplication::exit(0);
}

bool TCorvaleFormMain::EndsUnattended() const {
    return endBy_.has_value() && *endBy_ != TEndBy::User;
}

bool TCorvaleFormMain::IsOpen() const {
    return isVisible() && !isMinimized();
}

void TCorvaleFormMain::ShowAndActivate() {
    // The tray icon restores a minimised window and brings it forward when it is shown.
    if (isVisible()) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        raise();
        activateWindow();
    } else {
        show();
    }
}
