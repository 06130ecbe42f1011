#include "mainwindow/LoginManagerStandIn.h"

#include <QDBusError>
#include <QDBusMessage>

TLoginManagerStandIn::TLoginManagerStandIn(const QString& address, Name name)
    : connectionName_(
          QStringLiteral("login-manager-stand-in-%1").arg(reinterpret_cast<quintptr>(this), 0, 16)),
      bus_(QDBusConnection::connectToBus(address, connectionName_)) {
    if (!bus_.isConnected()) {
        failure_ = QStringLiteral("no bus at ") + address + QStringLiteral(": ") +
                   bus_.lastError().message();
    } else if (name == Name::Owned &&
               !bus_.registerService(QStringLiteral("org.freedesktop.login1"))) {
        failure_ = QStringLiteral("the name was not taken: ") + bus_.lastError().message();
    }
}

TLoginManagerStandIn::~TLoginManagerStandIn() {
    QDBusConnection::disconnectFromBus(connectionName_);
}

bool TLoginManagerStandIn::PrepareForSleep(bool sleeping) {
    QDBusMessage announcement = QDBusMessage::createSignal(
        QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
        QStringLiteral("PrepareForSleep"));
    announcement << sleeping;
    return bus_.send(announcement);
}
