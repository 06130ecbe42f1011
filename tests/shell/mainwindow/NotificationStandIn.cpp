#include "mainwindow/NotificationStandIn.h"

#include <QDBusError>

TNotificationStandIn::TNotificationStandIn(const QString& address)
    : connectionName_(
          QStringLiteral("notification-stand-in-%1").arg(reinterpret_cast<quintptr>(this), 0, 16)),
      bus_(QDBusConnection::connectToBus(address, connectionName_)) {
    if (!bus_.isConnected()) {
        failure_ = QStringLiteral("no bus at ") + address + QStringLiteral(": ") +
                   bus_.lastError().message();
    } else if (!bus_.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                    QDBusConnection::ExportAllSlots)) {
        failure_ = QStringLiteral("the object was not registered");
    } else if (!bus_.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        failure_ = QStringLiteral("the name was not taken: ") + bus_.lastError().message();
    }
}

TNotificationStandIn::~TNotificationStandIn() {
    bus_.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    // The bus connection watches this object's end and is dropped on the bus's own thread: let
    // go of this object first, or that thread still reaches it while it is freed here.
    disconnect(this, &QObject::destroyed, nullptr, nullptr);
    QDBusConnection::disconnectFromBus(connectionName_);
}

quint32 TNotificationStandIn::Notify(const QString& appName, quint32 replacesId,
                                     const QString& /*appIcon*/, const QString& summary,
                                     const QString& body, const QStringList& /*actions*/,
                                     const QVariantMap& /*hints*/, qint32 /*expireTimeout*/) {
    calls_.push_back({appName, replacesId, summary, body});
    return static_cast<quint32>(calls_.size());
}
