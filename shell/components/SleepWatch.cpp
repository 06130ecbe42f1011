#include "shell/components/SleepWatch.h"

#include <QDBusConnection>
#include <QDBusError>

namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");

} // namespace

TSleepWatch::TSleepWatch(QObject* parent)
    : QObject(parent),
      connectionName_(
          QStringLiteral("corvale-sleep-watch-%1").arg(reinterpret_cast<quintptr>(this), 0, 16)) {
    // The address is read here, not once per process as the shared system bus would, so a
    // test's own bus is the one reached.
    const QString address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
    QDBusConnection bus =
        address.isEmpty()
            ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, connectionName_)
            : QDBusConnection::connectToBus(address, connectionName_);
    if (!bus.isConnected()) {
        failure_ =
            QStringLiteral("no system bus (") + bus.lastError().message() + QStringLiteral(")");
        return;
    }
    // Naming the service makes the bus pass on only what its owner sends, whoever owns it
    // now or takes it later; a login manager that is not there yet is no failure.
    if (!bus.connect(kService, kPath, kInterface, QStringLiteral("PrepareForSleep"), this,
                     SLOT(PrepareForSleep(bool)))) {
        failure_ = QStringLiteral("the login manager's announcements cannot be listened to (") +
                   bus.lastError().message() + QStringLiteral(")");
    }
}

TSleepWatch::~TSleepWatch() {
    // The connection is dropped on the bus's own thread, which then undoes what still names
    // this object: undo it here first, so that thread never reaches an object being freed.
    QDBusConnection bus(connectionName_);
    bus.disconnect(kService, kPath, kInterface, QStringLiteral("PrepareForSleep"), this,
                   SLOT(PrepareForSleep(bool)));
    disconnect(this, &QObject::destroyed, nullptr, nullptr);
    QDBusConnection::disconnectFromBus(connectionName_);
}

void TSleepWatch::PrepareForSleep(bool sleeping) {
    if (!sleeping) {
        emit woke();
    }
}
