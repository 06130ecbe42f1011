#pragma once
// A status-notifier watcher with one host registered, on a private bus, as a desktop's panel
// provides them: a program that finds it shows its tray icon over D-Bus and registers the
// icon here. The test then plays the panel: it reads the icon's properties, activates it,
// asks for its context menu and reads and clicks its exported menu.

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <memory>
#include <vector>

// One entry of an exported menu with the properties a panel draws it from.
struct TMenuEntry {
    int Id = 0;
    QVariantMap Properties;
    std::vector<TMenuEntry> Children;

    QString Label() const { return Properties.value(QStringLiteral("label")).toString(); }
    bool Visible() const { return Properties.value(QStringLiteral("visible"), true).toBool(); }
    bool Enabled() const { return Properties.value(QStringLiteral("enabled"), true).toBool(); }
    bool Separator() const {
        return Properties.value(QStringLiteral("type")).toString() == QStringLiteral("separator");
    }
    int ToggleState() const { return Properties.value(QStringLiteral("toggle-state"), -1).toInt(); }
};

class TTestTrayHost final : public QDBusVirtualObject {
public:
    // Connects to the bus at `address` and takes the watcher's and the host's names.
    explicit TTestTrayHost(const QString& address);
    ~TTestTrayHost() override;

    // Empty when the watcher and host are on the bus; otherwise why not.
    const QString& Failure() const { return failure_; }
    // The services of the icons registered so far.
    const QStringList& Items() const { return items_; }

    // The first registered icon's property of the status-notifier interface.
    QVariant ItemProperty(const QString& name);
    // Its tooltip's title and text.
    QString ToolTipTitle();
    // The calls a panel makes on a click and a right click.
    bool Activate();
    bool ContextMenu();
    // The exported menu as the panel shows it: opened (so that it updates), then read.
    std::vector<TMenuEntry> MenuLayout();
    // Clicks an entry of the exported menu.
    bool ClickMenuEntry(int id);

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    QDBusMessage CallItem(const QString& path, const QString& interface, const QString& method,
                          const QVariantList& arguments);
    QString MenuPath();

    QString connectionName_;
    QDBusConnection bus_;
    QStringList items_;
    QString failure_;
};
