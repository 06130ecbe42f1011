// The main window's tray icon: the icon and its menu, the click that opens or hides the
// window, and hiding to the notification area.

#include "core/uCfg.h"
#include "shell/components/Icons.h"
#include "shell/components/PopupMenu.h"
#include "shell/components/QtTrayShell.h"
#include "shell/components/SysTrayIcon.h"
#include "shell/components/uPortlynx.h"
#include "shell/mainwindow/ActionList.h"
#include "shell/mainwindow/fMain.h"

#include <QAction>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {

// How often a window minimised for want of a tray looks for one.
constexpr int kTrayLookIntervalMs = 1000;

} // namespace

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

void TCorvaleFormMain::HideWindow() {
    if (TrayAvailable()) {
        hide();
    } else {
        showMinimized();
        WaitForTray();
    }
}

// The tray icon docks by itself when a tray host appears; the window that was minimised in
// its place then hides into it, unless the user has brought it back meanwhile.
void TCorvaleFormMain::WaitForTray() {
    if (!trayWait_) {
        trayWait_ = new QTimer(this);
        trayWait_->setInterval(kTrayLookIntervalMs);
        connect(trayWait_, &QTimer::timeout, this, [this] {
            if (!isVisible() || !isMinimized()) {
                trayWait_->stop();
            } else if (TrayAvailable()) {
                trayWait_->stop();
                hide();
            }
        });
    }
    trayWait_->start();
}

bool TCorvaleFormMain::TrayAvailable() const {
    return setup_.TrayAvailable ? setup_.TrayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
}

void TCorvaleFormMain::SysTrayIcon1Click() {
    actOpenClose->trigger();
}

void TCorvaleFormMain::PopupTrayPopup() {
    Portlynx1->setVisible(CompanionFileExists());
}
