// The tray icon's reactions: mouse messages from the shell, the popup menu, the default item,
// the cycle timer and the owner form's events.

#include "shell/components/ImageList.h"
#include "shell/components/PopupMenu.h"
#include "shell/components/SysTrayIcon.h"
#include "shell/components/WindowMessages.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QWidget>

std::intptr_t TSysTrayIcon::TrayWindowProc(std::uint32_t message, std::uintptr_t /*wParam*/,
                                           std::intptr_t lParam) {
    if (message == kTrayCallbackMessage) {
        HandleMouseMessage(static_cast<std::uint32_t>(lParam));
        return 0;
    }
    if (message == WM_QUERYENDSESSION) {
        return 1; // the tray must never hold up the end of the session
    }
    return 0;
}

void TSysTrayIcon::HandleMouseMessage(std::uint32_t mouseMessage) {
    if (!enabled_) {
        return;
    }
    const QPoint cursor = shell_->CursorPos().value_or(QPoint());
    const int x = cursor.x();
    const int y = cursor.y();
    const TShiftState state = CurrentShiftState();
    switch (mouseMessage) {
    case TrayMessage::MouseMove:
        RaiseMouseMove(state, x, y);
        break;
    case TrayMessage::LButtonDown:
        RaiseMouseDown(TMouseButton::mbLeft, state | ssLeft, x, y);
        clickPending_ = true;
        if (leftPopup_) {
            ShowPopup();
        }
        break;
    case TrayMessage::LButtonUp:
        if (clickPending_) {
            clickPending_ = false;
            RaiseClick();
        }
        RaiseMouseUp(TMouseButton::mbLeft, state | ssLeft, x, y);
        break;
    case TrayMessage::LButtonDblClk:
        RaiseDblClick();
        RunDefaultItem();
        break;
    case TrayMessage::RButtonDown:
        RaiseMouseDown(TMouseButton::mbRight, state | ssRight, x, y);
        ShowPopup();
        break;
    case TrayMessage::RButtonUp:
        RaiseMouseUp(TMouseButton::mbRight, state | ssRight, x, y);
        break;
    case TrayMessage::MButtonDown:
        RaiseMouseDown(TMouseButton::mbMiddle, state | ssMiddle, x, y);
        break;
    case TrayMessage::MButtonUp:
        RaiseMouseUp(TMouseButton::mbMiddle, state | ssMiddle, x, y);
        break;
    default:
        break; // double clicks of the other buttons and anything else
    }
}

TShiftState TSysTrayIcon::CurrentShiftState() {
    const Qt::KeyboardModifiers keys = shell_->KeyboardState();
    TShiftState state = 0;
    if (keys & Qt::ShiftModifier) {
        state |= ssShift;
    }
    if (keys & Qt::ControlModifier) {
        state |= ssCtrl;
    }
    if (keys & Qt::AltModifier) {
        state |= ssAlt;
    }
    return state;
}

// A menu has one default action here, so "the first of the top-level items marked as
// default" is that action when it is a top-level item.
void TSysTrayIcon::RunDefaultItem() {
    if (!popupMenu_ || !popupMenu_->AutoPopup() || leftPopup_) {
        return;
    }
    QAction* item = popupMenu_->defaultAction();
    if (item && popupMenu_->actions().contains(item)) {
        item->trigger();
    }
}

// The menu opens without a nested event loop: the window thread keeps serving the tasks'
// window operations while it is open, and the menu closes itself when the user clicks away.
void TSysTrayIcon::ShowPopup() {
    if (!popupMenu_ || !popupMenu_->AutoPopup()) {
        return;
    }
    const std::optional<QPoint> cursor = shell_->CursorPos();
    if (!cursor) {
        return;
    }
    if (QWidget* focused = QApplication::focusWidget()) {
        if (QWidget* form = focused->window(); form->isVisible()) {
            form->activateWindow();
        }
    }
    popupMenu_->SetPopupComponent(this);
    popupMenu_->popup(*cursor);
}

void TSysTrayIcon::CycleStep() {
    if (!iconList_) {
        return;
    }
    icon_ = iconList_->Icon(iconIndex_);
    const auto nextIndex = [this] {
        return iconList_ && iconIndex_ < iconList_->Count() - 1 ? iconIndex_ + 1 : 0;
    };
    RaiseCycle(nextIndex());
    ModifyTrayIcon();
    SetIconIndex(nextIndex());
}

bool TSysTrayIcon::eventFilter(QObject* watched, QEvent* event) {
    if (watched == owner_) {
        // A show by the program (not the window system's own) brings back a form that was
        // minimised or hidden to the tray, in front of the others.
        if (event->type() == QEvent::Show && !event->spontaneous()) {
            RestoreOwner();
        } else if (event->type() == QEvent::WindowStateChange && minimizeToTray_ &&
                   owner_->isMinimized()) {
            // Hidden after the state change has been handled, as a window hidden in the
            // middle of it may come back on some window managers.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (owner_ && owner_->isMinimized()) {
                        HideToTray();
                    }
                },
                Qt::QueuedConnection);
        }
    }
    return QObject::eventFilter(watched, event);
}

void TSysTrayIcon::RestoreOwner() {
    if (owner_->isMinimized()) {
        owner_->setWindowState(owner_->windowState() & ~Qt::WindowMinimized);
    }
    owner_->raise();
    owner_->activateWindow();
}

void TSysTrayIcon::RaiseClick() {
    if (OnClick) {
        OnClick(this);
    }
}

void TSysTrayIcon::RaiseDblClick() {
    if (OnDblClick) {
        OnDblClick(this);
    }
}

void TSysTrayIcon::RaiseCycle(std::int32_t nextIndex) {
    if (OnCycle) {
        OnCycle(this, nextIndex);
    }
}

void TSysTrayIcon::RaiseMouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseDown) {
        OnMouseDown(this, button, shift, x, y);
    }
}

void TSysTrayIcon::RaiseMouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseUp) {
        OnMouseUp(this, button, shift, x, y);
    }
}

void TSysTrayIcon::RaiseMouseMove(TShiftState shift, int x, int y) {
    if (OnMouseMove) {
        OnMouseMove(this, shift, x, y);
    }
}
