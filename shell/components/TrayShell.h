#pragma once
// What the tray icon component needs of the desktop shell: the notification-area calls, the
// cursor and keyboard state, and the mouse messages that the shell sends for the icon. The
// program uses the system tray; tests use a fake that records calls and injects messages.

#include "shell/components/WindowMessages.h"

#include <QIcon>
#include <QPoint>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QMenu;

enum class TNotifyMessage { Add = 0, Modify = 1, Delete = 2 };

// What every shell call sends: the picture (empty for none) and the tip (empty for none).
struct TNotifyIconData {
    QIcon Icon;
    QString Tip;
};

class ITrayShell {
public:
    using TMouseMessageSink = std::function<void(std::uint32_t mouseMessage)>;

    virtual ~ITrayShell() = default;
    // One call to the notification area; answers whether the shell accepted it.
    virtual bool NotifyIcon(TNotifyMessage message, const TNotifyIconData& data) = 0;
    // The cursor's position on the screen, or nothing when it cannot be read.
    virtual std::optional<QPoint> CursorPos() = 0;
    // The modifier keys that are down now.
    virtual Qt::KeyboardModifiers KeyboardState() = 0;
    // Where the icon's mouse messages go from now on.
    virtual void SetMouseMessageSink(TMouseMessageSink sink) = 0;
    // The icon's popup menu, for a tray that draws the menu itself and never asks for it to
    // be opened (or none).
    virtual void SetMenu(QMenu* menu) { (void)menu; }
};

// The system's notification area (QSystemTrayIcon).
std::unique_ptr<ITrayShell> CreateSystemTrayShell();
