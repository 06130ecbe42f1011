#include "shell/mainwindow/ActionButton.h"

#include <QAction>
#include <QPushButton>

namespace {

void ShowAction(QPushButton* button, const QAction* action) {
    button->setText(action->text());
    button->setToolTip(action->statusTip());
    button->setEnabled(action->isEnabled());
}

} // namespace

void BindButtonToAction(QPushButton* button, QAction* action) {
    ShowAction(button, action);
    QObject::connect(action, &QAction::changed, button,
                     [button, action] { ShowAction(button, action); });
    QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
}
