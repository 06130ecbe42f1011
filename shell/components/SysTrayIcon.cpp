#include "shell/components/SysTrayIcon.h"

#include "shell/components/Application.h"
#include "shell/components/ImageList.h"
#include "shell/components/PopupMenu.h"
#include "shell/components/WindowMessages.h"
#include "shell/components/WindowTimer.h"

#include <QTimer>
#include <QWidget>
#include <algorithm>

namespace {

// The tip holds at most 63 characters; a cut never splits a character in two.
QString TipOf(const QString& hint) {
    constexpr qsizetype kTipLength = 63;
    if (hint.size() <= kTipLength) {
        return hint;
    }
    const qsizetype length =
        hint.at(kTipLength - 1).isHighSurrogate() ? kTipLength - 1 : kTipLength;
    return hint.left(length);
}

} // namespace

TSysTrayIcon::TSysTrayIcon(QWidget* owner, std::unique_ptr<ITrayShell> shell)
    : QObject(owner), owner_(owner), shell_(std::move(shell)) {
    cycleTimer_ = new QTimer(this);
    cycleTimer_->setObjectName(QStringLiteral("CycleTimer"));
    connect(cycleTimer_, &QTimer::timeout, this, &TSysTrayIcon::CycleStep);
    shell_->SetMouseMessageSink([this](std::uint32_t mouseMessage) {
        TrayWindowProc(kTrayCallbackMessage, 0, static_cast<std::intptr_t>(mouseMessage));
    });
    // The form's own events stand in for the window hooks: restore and bring forward when
    // it is shown, hide to the tray when it is minimised.
    if (owner_) {
        owner_->installEventFilter(this);
    }
}

TSysTrayIcon::~TSysTrayIcon() {
    SetIconVisible(false);
    shell_->SetMouseMessageSink({});
    if (owner_) {
        owner_->removeEventFilter(this);
    }
}

void TSysTrayIcon::SetDesignPreview(bool value) {
    designPreview_ = value;
    previewSwitching_ = true;
    SetIconVisible(value);
    previewSwitching_ = false;
}

void TSysTrayIcon::SetIconList(TImageList* list) {
    iconList_ = list;
    WatchRemoval(list, iconListRemoval_);
    SetIconIndex(0);
}

void TSysTrayIcon::SetCycleIcons(bool value) {
    cycleIcons_ = value;
    if (value) {
        SetIconIndex(0);
    }
    cycleTimerEnabled_ = value;
    UpdateCycleTimer();
}

void TSysTrayIcon::SetCycleInterval(std::uint32_t milliseconds) {
    cycleInterval_ = milliseconds;
    UpdateCycleTimer();
}

// A zero interval means the timer never fires (a zero-interval QTimer would fire on every
// pass of the event loop instead).
void TSysTrayIcon::UpdateCycleTimer() {
    if (cycleTimerEnabled_ && cycleInterval_ != 0) {
        cycleTimer_->start(WindowTimerPeriod(cycleInterval_));
    } else {
        cycleTimer_->stop();
    }
}

void TSysTrayIcon::SetHint(const QString& value) {
    hint_ = value;
    ModifyTrayIcon();
}

void TSysTrayIcon::SetShowHint(bool value) {
    showHint_ = value;
    ModifyTrayIcon();
}

void TSysTrayIcon::SetIcon(const QIcon& icon) {
    icon_ = icon;
    ModifyTrayIcon();
}

void TSysTrayIcon::SetIconVisible(bool value) {
    if (value) {
        AddTrayIcon();
    } else {
        DeleteTrayIcon();
    }
}

void TSysTrayIcon::SetIconIndex(std::int32_t index) {
    if (iconList_) {
        // Clamped at the top only: a negative index stays and shows no picture.
        iconIndex_ = std::min(index, iconList_->Count() - 1);
        icon_ = iconList_->Icon(iconIndex_);
    } else {
        iconIndex_ = 0;
    }
    ModifyTrayIcon();
}

void TSysTrayIcon::SetPopupMenu(TPopupMenu* menu) {
    popupMenu_ = menu;
    WatchRemoval(menu, popupMenuRemoval_);
    shell_->SetMenu(menu);
}

void TSysTrayIcon::WatchRemoval(QObject* component, QMetaObject::Connection& connection) {
    disconnect(connection);
    connection = {};
    if (component) {
        connection = connect(component, &QObject::destroyed, this,
                             [this](QObject* removed) { Notification(removed); });
    }
}

void TSysTrayIcon::Loaded() {
    if (startMinimized_) {
        Application::ShowMainForm = false;
        if (owner_) {
            owner_->hide();
        }
    }
    ModifyTrayIcon();
    SetIconVisible(iconVisible_);
}

void TSysTrayIcon::Notification(QObject* removed) {
    if (removed == nullptr) {
        return;
    }
    if (removed == iconList_) {
        SetIconList(nullptr);
    }
    if (removed == popupMenu_) {
        SetPopupMenu(nullptr);
    }
}

void TSysTrayIcon::RefreshNotifyData() {
    notifyData_.Icon = icon_;
    notifyData_.Tip = showHint_ && !hint_.isEmpty() ? TipOf(hint_) : QString();
}

bool TSysTrayIcon::AddTrayIcon() {
    if (!previewSwitching_) {
        iconVisible_ = true;
    }
    RefreshNotifyData();
    return shell_->NotifyIcon(TNotifyMessage::Add, notifyData_);
}

bool TSysTrayIcon::DeleteTrayIcon() {
    if (!previewSwitching_) {
        iconVisible_ = false;
    }
    RefreshNotifyData();
    return shell_->NotifyIcon(TNotifyMessage::Delete, notifyData_);
}

bool TSysTrayIcon::ModifyTrayIcon() {
    RefreshNotifyData();
    return shell_->NotifyIcon(TNotifyMessage::Modify, notifyData_);
}

// The owner form stands for both the application window and the main form: a Qt top-level
// window carries its own taskbar button.
void TSysTrayIcon::HideMainWindow() {
    if (owner_) {
        owner_->hide();
    }
}

void TSysTrayIcon::HideToTray() {
    HideMainWindow();
    SetIconVisible(true);
}
