#pragma once
// The desktop's notification service as a test's stand-in: it owns
// org.freedesktop.Notifications on a private session bus and records each Notify call.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <vector>

struct TNotifyCall {
    QString AppName;
    quint32 ReplacesId = 0;
    QString Summary;
    QString Body;
};

class TNotificationStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    // Connects to the bus at `address` and takes the service's name.
    explicit TNotificationStandIn(const QString& address);
    ~TNotificationStandIn() override;

    // Empty when the service is on the bus; otherwise why not.
    const QString& Failure() const { return failure_; }
    const std::vector<TNotifyCall>& Calls() const { return calls_; }

public slots:
    // Numbers the notifications from 1, as a service does.
    quint32 Notify(const QString& appName, quint32 replacesId, const QString& appIcon,
                   const QString& summary, const QString& body, const QStringList& actions,
                   const QVariantMap& hints, qint32 expireTimeout);

private:
    QString connectionName_;
    QDBusConnection bus_;
    QString failure_;
    std::vector<TNotifyCall> calls_;
};
