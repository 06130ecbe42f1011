#pragma once
// What the tray icon component needs of the desktop shell: the notification-area calls, the
// cursor and keyboard state, and the mouse messages that the shell sends for the icon. The
// program uses the system tray; tests use a fake that records calls and injects messages.

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

// The mouse messages of the icon, as the shell reports them.
namespace TrayMessage {
inline constexpr std::uint32_t MouseMove = 0x200;
inline constexpr std::uint32_t LButtonDown = 0x201;
inline constexpr std::uint32_t LButtonUp = 0x202;
inline constexpr std::uint32_t LButtonDblClk = 0x203;
inline constexpr std::uint32_t RButtonDown = 0x204;
inline constexpr std::uint32_t RButtonUp = 0x205;
inline constexpr std::uint32_t RButtonDblClk = 0x206;
inline constexpr std::uint32_t MButtonDown = 0x207;
inline constexpr std::uint32_t MButtonUp = 0x208;
inline constexpr std::uint32_t MButtonDblClk = 0x209;
} // namespace TrayMessage

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
