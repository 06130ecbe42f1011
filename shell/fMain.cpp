// The main window's life: creation and the start-up sequence, the first show, the close
// request and the destruction.

#include "shell/fMain.h"

#include "core/uCfg.h"
#include "core/uEndpoint.h"
#include "core/uTasksIP.h"
#include "platform/System.h"
#include "shell/ActionList.h"
#include "shell/Icons.h"
#include "shell/LinkLabel.h"
#include "shell/LocalMessageServer.h"
#include "shell/MessageBox.h"
#include "shell/PopupMenu.h"
#include "shell/SysTrayIcon.h"
#include "shell/fMainWindowOps.h"
#include "shell/uPortlynx.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <climits>

namespace {

constexpr Qt::WindowFlags kTitleBarButtons =
    Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
    Qt::WindowCloseButtonHint;

TColumnWidths ColumnWidths(const QTableWidget* list) {
    TColumnWidths widths;
    for (int i = 0; i < list->columnCount(); ++i) {
        widths.push_back(list->columnWidth(i));
    }
    return widths;
}

void SetColumnWidths(QTableWidget* list, const TColumnWidths& widths) {
    const int count = std::min(list->columnCount(), static_cast<int>(widths.size()));
    for (int i = 0; i < count; ++i) {
        list->setColumnWidth(i, widths[static_cast<std::size_t>(i)]);
    }
}

} // namespace

TCorvaleFormMain::TCorvaleFormMain(TSetup setup)
    : QWidget(nullptr, kTitleBarButtons), setup_(std::move(setup)) {
    setObjectName(QStringLiteral("CorvaleFormMain"));
    setWindowTitle(QStringLiteral("Corvale"));
    setWindowIcon(Icons::Tray());
    QFont small = font();
    small.setPointSize(8);
    setFont(small);
    resize(400, 301);
    setMinimumSize(372, 301);

    CreateComponents();
    CreatePages();
    CreateTrayIcon();
    ConnectHandlers();
    PlaceInCentre();

    // From here on the tasks reach this window.
    AttachWindowOps(this);
    SysTrayIcon1->Loaded();
    RunHandler([this] { FormCreate(); });
}

TCorvaleFormMain::~TCorvaleFormMain() {
    try {
        FormDestroy();
    } catch (const std::exception& error) {
        // The message loop has ended: this box is the only thing left to wait for.
        ShowApplicationError(QString::fromUtf8(error.what()));
    }
}

void TCorvaleFormMain::CreateTrayIcon() {
    SysTrayIcon1 = new TSysTrayIcon(this, setup_.MakeTrayShell ? setup_.MakeTrayShell()
                                                               : CreateSystemTrayShell());
    SysTrayIcon1->setObjectName(QStringLiteral("SysTrayIcon1"));
    SysTrayIcon1->SetIcon(Icons::Tray());
    SysTrayIcon1->SetHint(QStringLiteral("Corvale"));
    SysTrayIcon1->SetShowHint(true);
    SysTrayIcon1->SetPopupMenu(PopupTray);
    SysTrayIcon1->OnClick = [this](TSysTrayIcon*) { RunHandler([this] { SysTrayIcon1Click(); }); };
}

void TCorvaleFormMain::ConnectHandlers() {
    connect(Timer1, &QTimer::timeout, this, [this] { RunHandler([this] { Timer1Timer(); }); });
    connect(PageControl1, &QTabWidget::currentChanged, this,
            [this](int index) { RunHandler([this, index] { PageControl1Change(index); }); });
    connect(Button1, &QPushButton::clicked, this,
            [this] { RunHandler([this] { Button1Click(); }); });
    connect(Lbl_web, &TLinkLabel::clicked, this,
            [this] { RunHandler([this] { Lbl_webClick(); }); });
    connect(Lbl_mail, &TLinkLabel::clicked, this,
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
        Terminate();
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

void TCorvaleFormMain::Terminate() {
    emit terminateRequested();
    QCoreApplication::exit(0);
}

TSettingsEnv TCorvaleFormMain::SettingsEnv() {
    return TSettingsEnv{
        Cfg.IniFile,
        setup_.ProgramPath.empty() ? platform::ExecutablePath() : setup_.ProgramPath,
        Vars,
        [this](std::uint32_t periodMs) { RestartCheckTimer(periodMs); },
        [this](bool onTop) { ApplyStayOnTop(onTop); },
    };
}

TListWidths TCorvaleFormMain::ListWidths() const {
    return TListWidths{ColumnWidths(LV1), ColumnWidths(LV2)};
}

void TCorvaleFormMain::ApplyListWidths(const TListWidths& widths) {
    SetColumnWidths(LV1, widths.IP);
    SetColumnWidths(LV2, widths.Buddies);
}

void TCorvaleFormMain::SaveColumns() {
    ::SaveColumns(SettingsEnv(), ListWidths());
}

void TCorvaleFormMain::RestartCheckTimer(std::uint32_t periodMs) {
    Timer1->stop();
    Timer1->setInterval(static_cast<int>(std::min<std::uint32_t>(periodMs, INT_MAX)));
    if (actActive->isChecked()) {
        Timer1->start();
    }
}

void TCorvaleFormMain::ApplyStayOnTop(bool onTop) {
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) {
        return;
    }
    // A visible window is hidden by a change of its flags; it comes back as it was.
    const bool wasVisible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (wasVisible) {
        show();
    }
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

void TCorvaleFormMain::HideWindow() {
    if (TrayAvailable()) {
        hide();
    } else {
        showMinimized();
    }
}

bool TCorvaleFormMain::TrayAvailable() const {
    return setup_.TrayAvailable ? setup_.TrayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
}
