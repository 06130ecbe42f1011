#pragma once
// Tells the user something through the desktop's notification service
// (org.freedesktop.Notifications on the session bus). Where the desktop has no such service,
// or there is no session bus, nothing is shown: never a box of the program's own instead.

#include <QObject>
#include <QString>

class TDesktopNotifier : public QObject {
    Q_OBJECT

public:
    explicit TDesktopNotifier(QObject* parent = nullptr);
    ~TDesktopNotifier() override;
    TDesktopNotifier(const TDesktopNotifier&) = delete;
    TDesktopNotifier& operator=(const TDesktopNotifier&) = delete;

    // Returns at once, without waiting for the service. A notification takes the place of
    // the one before it, should that still be on the screen.
    void Notify(const QString& title, const QString& text);

private:
    // The session bus is reached at the first notification, at the address of the
    // environment then (the desktop's default when none is set).
    bool Connected();

    QString connectionName_;
    bool tried_ = false;
    bool connected_ = false;
    quint32 shownId_ = 0; // the service's number of the last notification, 0 before one
};
