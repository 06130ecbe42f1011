#include "shell/mainwindow/MenuItem.h"

#include <QAction>
#include <QMenu>

namespace {

void ShowAction(QAction* item, const QAction* action) {
    item->setText(action->text());
    item->setToolTip(action->toolTip());
    item->setStatusTip(action->statusTip());
    item->setIcon(action->icon());
    item->setEnabled(action->isEnabled());
    item->setCheckable(action->isCheckable());
    item->setChecked(action->isChecked());
}

} // namespace

QAction* AddMenuItem(QMenu* menu, const char* name, QAction* action) {
    auto* item = new QAction(menu);
    item->setObjectName(QString::fromLatin1(name));
    ShowAction(item, action);
    QObject::connect(action, &QAction::changed, item, [item, action] { ShowAction(item, action); });
    // A checkable item has flipped its own state already; the action flips its own and the
    // item then follows it.
    QObject::connect(item, &QAction::triggered, action, [action] { action->trigger(); });
    menu->addAction(item);
    return item;
}

QAction* AddMenuSeparator(QMenu* menu, const char* name) {
    QAction* separator = menu->addSeparator();
    separator->setObjectName(QString::fromLatin1(name));
    return separator;
}
