#pragma once
// The login manager as a test's stand-in: on a private system bus it owns
// org.freedesktop.login1 (unless told not to, as an impostor would) and announces sleep and
// wake as the real one does.

#include <QDBusConnection>
#include <QString>

class TLoginManagerStandIn {
public:
    enum class Name { Owned, NotOwned };

    TLoginManagerStandIn(const QString& address, Name name);
    ~TLoginManagerStandIn();
    TLoginManagerStandIn(const TLoginManagerStandIn&) = delete;
    TLoginManagerStandIn& operator=(const TLoginManagerStandIn&) = delete;

    // Empty when it is on the bus (with its name, when it was to own it); otherwise why not.
    const QString& Failure() const { return failure_; }
    // PrepareForSleep(true) before sleeping, PrepareForSleep(false) after the wake.
    bool PrepareForSleep(bool sleeping);

private:
    QString connectionName_;
    QDBusConnection bus_;
    QString failure_;
};
