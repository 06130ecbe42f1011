#include "shell/components/QtTrayShell.h"

#include "shell/components/WindowMessages.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>

TQtTrayShell::TQtTrayShell() {
    QObject::connect(&icon_, &QSystemTrayIcon::activated, &icon_,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         // A copy: a handler may replace the sink while it runs.
                         const TMouseMessageSink sink = sink_;
                         if (!sink) {
                             return;
                         }
                         for (const std::uint32_t message : MouseMessagesFor(reason)) {
                             sink(message);
                         }
                     });
}

bool TQtTrayShell::NotifyIcon(TNotifyMessage message, const TNotifyIconData& data) {
    switch (message) {
    case TNotifyMessage::Add:
        return Add(data);
    case TNotifyMessage::Modify:
        return Modify(data);
    case TNotifyMessage::Delete:
        return Delete();
    }
    return false;
}

bool TQtTrayShell::Add(const TNotifyIconData& data) {
    if (added_) {
        return false; // the shell refuses a second icon with the same identity
    }
    added_ = true;
    Apply(data);
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool TQtTrayShell::Modify(const TNotifyIconData& data) {
    if (!added_) {
        return false;
    }
    Apply(data);
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool TQtTrayShell::Delete() {
    if (!added_) {
        return false;
    }
    added_ = false;
    icon_.hide();
    return true;
}

void TQtTrayShell::Apply(const TNotifyIconData& data) {
    icon_.setIcon(data.Icon);
    icon_.setToolTip(data.Tip);
    // The system tray cannot show an icon without a picture; it appears once it has one.
    icon_.setVisible(!data.Icon.isNull());
}

// A status-notifier tray (over D-Bus: the one on Wayland, and on X11 where a watcher with a
// host runs) draws the exported menu itself, and many such hosts never send a context
// request, so the menu must be exported for every command to stay reachable. The X tray
// protocol gets none: Qt would open it on a right press by itself, beside the popup the
// component opens. Qt gives the menu a platform counterpart only for the D-Bus tray.
void TQtTrayShell::SetMenu(QMenu* menu) {
    icon_.setContextMenu(menu);
    if (menu && !menu->platformMenu()) {
        icon_.setContextMenu(nullptr);
    }
}

std::optional<QPoint> TQtTrayShell::CursorPos() {
    return QCursor::pos();
}

Qt::KeyboardModifiers TQtTrayShell::KeyboardState() {
    return QGuiApplication::queryKeyboardModifiers();
}

void TQtTrayShell::SetMouseMessageSink(TMouseMessageSink sink) {
    sink_ = std::move(sink);
}

std::vector<std::uint32_t>
TQtTrayShell::MouseMessagesFor(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return {TrayMessage::LButtonDown, TrayMessage::LButtonUp};
    case QSystemTrayIcon::DoubleClick:
        return {TrayMessage::LButtonDblClk, TrayMessage::LButtonUp};
    case QSystemTrayIcon::Context:
        return {TrayMessage::RButtonDown, TrayMessage::RButtonUp};
    case QSystemTrayIcon::MiddleClick:
        return {TrayMessage::MButtonDown, TrayMessage::MButtonUp};
    case QSystemTrayIcon::Unknown:
        break;
    }
    return {};
}

std::unique_ptr<ITrayShell> CreateSystemTrayShell() {
    return std::make_unique<TQtTrayShell>();
}
