#pragma once
// The notification area through QSystemTrayIcon. Adding shows the icon, modifying sets its
// picture and tool tip, deleting hides it; its activations become the mouse messages that a
// tray window would receive.

#include "shell/components/TrayShell.h"

#include <QSystemTrayIcon>
#include <vector>

class TQtTrayShell final : public ITrayShell {
public:
    TQtTrayShell();

    bool NotifyIcon(TNotifyMessage message, const TNotifyIconData& data) override;
    std::optional<QPoint> CursorPos() override;
    Qt::KeyboardModifiers KeyboardState() override;
    void SetMouseMessageSink(TMouseMessageSink sink) override;
    void SetMenu(QMenu* menu) override;

    // Where the icon is on the screen; empty while it is not docked in a tray.
    QRect GeometryForTests() const { return icon_.geometry(); }

    // The mouse messages that stand for one activation, in the order the shell would send them.
    static std::vector<std::uint32_t> MouseMessagesFor(QSystemTrayIcon::ActivationReason reason);

private:
    bool Add(const TNotifyIconData& data);
    bool Modify(const TNotifyIconData& data);
    bool Delete();
    void Apply(const TNotifyIconData& data);

    QSystemTrayIcon icon_;
    // Whether the icon was added and not deleted since: the shell's own view of it, which
    // also covers a tray host that appears later (the icon docks when it does).
    bool added_ = false;
    TMouseMessageSink sink_;
};
