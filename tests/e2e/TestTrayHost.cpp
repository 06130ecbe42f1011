#include "TestTrayHost.h"

#include "tests/support/QtWait.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDateTime>

using namespace std::chrono_literals;

namespace {

// How long the panel waits for the icon to answer a call, before the run's scaling.
constexpr std::chrono::milliseconds kReplyTimeout = 5s;

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

const char* const kWatcherIntrospection = R"(
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
  <interface name="org.freedesktop.DBus.Properties">
    <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="v" direction="out"/></method>
    <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
  </interface>
)";

// One layout node: (i id, a{sv} properties, av children).
TMenuEntry ReadEntry(const QDBusArgument& argument) {
    TMenuEntry entry;
    argument.beginStructure();
    argument >> entry.Id;
    argument >> entry.Properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        entry.Children.push_back(ReadEntry(child.variant().value<QDBusArgument>()));
    }
    argument.endArray();
    argument.endStructure();
    return entry;
}

} // namespace

TTestTrayHost::TTestTrayHost(const QString& address)
    : connectionName_(QStringLiteral("test-tray-host")),
      bus_(QDBusConnection::connectToBus(address, connectionName_)) {
    if (!bus_.isConnected()) {
        failure_ =
            QStringLiteral("cannot connect to the private bus: ") + bus_.lastError().message();
        return;
    }
    if (!bus_.registerVirtualObject(kWatcherPath, this) || !bus_.registerService(kWatcherService) ||
        !bus_.registerService(QStringLiteral("org.kde.StatusNotifierHost-%1")
                                  .arg(QCoreApplication::applicationPid()))) {
        failure_ = QStringLiteral("cannot take the watcher's names: ") + bus_.lastError().message();
    }
}

TTestTrayHost::~TTestTrayHost() {
    bus_.unregisterObject(kWatcherPath);
    // The bus connection watches this object's end and is dropped on the bus's own thread: let
    // go of this object first, or that thread still reaches it while it is freed here.
    disconnect(this, &QObject::destroyed, nullptr, nullptr);
    QDBusConnection::disconnectFromBus(connectionName_);
}

QString TTestTrayHost::introspect(const QString&) const {
    return QString::fromLatin1(kWatcherIntrospection);
}

bool TTestTrayHost::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    const QString member = message.member();
    if (member == QStringLiteral("RegisterStatusNotifierItem")) {
        // A service name, or an object path on the caller's own connection.
        const QString service = message.arguments().value(0).toString();
        items_.append(service.startsWith(QLatin1Char('/')) ? message.service() : service);
        connection.send(message.createReply());
        QDBusMessage registered = QDBusMessage::createSignal(
            kWatcherPath, kWatcherService, QStringLiteral("StatusNotifierItemRegistered"));
        registered << items_.last();
        connection.send(registered);
        return true;
    }
    if (member == QStringLiteral("RegisterStatusNotifierHost")) {
        connection.send(message.createReply());
        return true;
    }
    if (message.interface() == kPropertiesInterface) {
        const QVariantMap properties{{QStringLiteral("RegisteredStatusNotifierItems"), items_},
                                     {QStringLiteral("IsStatusNotifierHostRegistered"), true},
                                     {QStringLiteral("ProtocolVersion"), 0}};
        if (member == QStringLiteral("GetAll")) {
            connection.send(message.createReply(QVariant::fromValue(properties)));
            return true;
        }
        const QString name = message.arguments().value(1).toString();
        if (member == QStringLiteral("Get") && properties.contains(name)) {
            connection.send(
                message.createReply(QVariant::fromValue(QDBusVariant(properties.value(name)))));
            return true;
        }
        connection.send(message.createErrorReply(QDBusError::UnknownProperty, name));
        return true;
    }
    return false;
}

QDBusMessage TTestTrayHost::CallItem(const QString& path, const QString& interface,
                                     const QString& method, const QVariantList& arguments) {
    if (items_.isEmpty()) {
        return {};
    }
    QDBusMessage call = QDBusMessage::createMethodCall(items_.first(), path, interface, method);
    call.setArguments(arguments);
    // Not QDBusConnection::call with QDBus::BlockWithGui: in this Qt it starts waiting for the
    // reply only after handing the call to its bus thread, so a reply that is read in between
    // is missed and the wait never ends (seen under load). The pending call says when it has
    // its reply whenever it came; this thread's events run meanwhile, as the icon may call
    // the watcher back.
    const QDBusPendingCall pending =
        bus_.asyncCall(call, static_cast<int>(testing_support::Scaled(kReplyTimeout).count()));
    testing_support::WaitFor([&] { return pending.isFinished(); }, kReplyTimeout + 1s);
    return pending.isFinished() ? pending.reply() : QDBusMessage();
}

QVariant TTestTrayHost::ItemProperty(const QString& name) {
    const QDBusMessage reply = CallItem(QStringLiteral("/StatusNotifierItem"), kPropertiesInterface,
                                        QStringLiteral("Get"), {kItemInterface, name});
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return {};
    }
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

// ToolTip is (s icon name, a(iiay) pictures, s title, s text).
QString TTestTrayHost::ToolTipTitle() {
    const QVariant value = ItemProperty(QStringLiteral("ToolTip"));
    if (!value.canConvert<QDBusArgument>()) {
        return {};
    }
    const QDBusArgument argument = value.value<QDBusArgument>();
    QString iconName;
    QString title;
    QString text;
    argument.beginStructure();
    argument >> iconName;
    argument.beginArray();
    while (!argument.atEnd()) {
        int width = 0;
        int height = 0;
        QByteArray pixels;
        argument.beginStructure();
        argument >> width >> height >> pixels;
        argument.endStructure();
    }
    argument.endArray();
    argument >> title >> text;
    argument.endStructure();
    return title;
}

bool TTestTrayHost::Activate() {
    return CallItem(QStringLiteral("/StatusNotifierItem"), kItemInterface,
                    QStringLiteral("Activate"), {10, 10})
               .type() == QDBusMessage::ReplyMessage;
}

bool TTestTrayHost::ContextMenu() {
    return CallItem(QStringLiteral("/StatusNotifierItem"), kItemInterface,
                    QStringLiteral("ContextMenu"), {10, 10})
               .type() == QDBusMessage::ReplyMessage;
}

QString TTestTrayHost::MenuPath() {
    return ItemProperty(QStringLiteral("Menu")).value<QDBusObjectPath>().path();
}

std::vector<TMenuEntry> TTestTrayHost::MenuLayout() {
    const QString path = MenuPath();
    if (path.isEmpty()) {
        return {};
    }
    CallItem(path, kMenuInterface, QStringLiteral("AboutToShow"), {0});
    const QDBusMessage reply =
        CallItem(path, kMenuInterface, QStringLiteral("GetLayout"), {0, -1, QStringList()});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2) {
        return {};
    }
    return ReadEntry(reply.arguments().at(1).value<QDBusArgument>()).Children;
}

bool TTestTrayHost::ClickMenuEntry(int id) {
    const QString path = MenuPath();
    return !path.isEmpty() &&
           CallItem(path, kMenuInterface, QStringLiteral("Event"),
                    {id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)),
                     static_cast<uint>(QDateTime::currentSecsSinceEpoch())})
                   .type() == QDBusMessage::ReplyMessage;
}
