#include "shell/components/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
constexpr qint32 kServersDefaultTimeout = -1;

} // namespace

TDesktopNotifier::TDesktopNotifier(QObject* parent)
    : QObject(parent),
      connectionName_(
          QStringLiteral("corvale-notifier-%1").arg(reinterpret_cast<quintptr>(this), 0, 16)) {}

TDesktopNotifier::~TDesktopNotifier() {
    if (tried_) {
        QDBusConnection::disconnectFromBus(connectionName_);
    }
}

bool TDesktopNotifier::Connected() {
    if (!tried_) {
        tried_ = true;
        const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
        const QDBusConnection bus =
            address.isEmpty()
                ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_)
                : QDBusConnection::connectToBus(address, connectionName_);
        connected_ = bus.isConnected();
    }
    return connected_;
}

void TDesktopNotifier::Notify(const QString& title, const QString& text) {
    if (!Connected()) {
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << title << shownId_ << QString() << title << text << QStringList() << QVariantMap()
         << kServersDefaultTimeout;
    // A service that is not there answers with an error, which needs no word: the desktop
    // simply has no notifications.
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection(connectionName_).asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<quint32> reply = *finished;
                if (reply.isValid()) {
                    shownId_ = reply.value();
                }
                finished->deleteLater();
            });
}
