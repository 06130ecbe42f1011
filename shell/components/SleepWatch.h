#pragma once
// Tells when the machine wakes from sleep, as the login manager announces it on the system
// bus (PrepareForSleep(false) of org.freedesktop.login1.Manager). A machine without a system
// bus, or without the login manager, never tells: the program then runs as without the watch.

#include <QObject>
#include <QString>

class TSleepWatch : public QObject {
    Q_OBJECT

public:
    // Connects to the system bus at the address of the environment (DBUS_SYSTEM_BUS_ADDRESS),
    // or the system's own when none is set.
    explicit TSleepWatch(QObject* parent = nullptr);
    ~TSleepWatch() override;
    TSleepWatch(const TSleepWatch&) = delete;
    TSleepWatch& operator=(const TSleepWatch&) = delete;

    // Empty while the announcements are listened to; otherwise why they are not.
    const QString& Failure() const { return failure_; }

signals:
    void woke();

private slots:
    // Sent before the machine sleeps (true) and after it woke (false).
    void PrepareForSleep(bool sleeping);

private:
    QString connectionName_;
    QString failure_;
};
