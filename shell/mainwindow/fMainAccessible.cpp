// The names and descriptions assistive technology reads for the main window's controls where
// their caption does not say it: the pages, image-only and painted items, the lists, the tool
// bars and the popup menus. The Options and About pages name their own controls.

#include "shell/components/PopupMenu.h"
#include "shell/mainwindow/StatusPanels.h"
#include "shell/mainwindow/fMain.h"

#include <QAction>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <initializer_list>
#include <memory>
#include <utility>

namespace {

void NamePanels(TStatusPanelBar* bar, std::initializer_list<QString> names) {
    int index = 0;
    for (const QString& name : names) {
        bar->SetPanelName(index++, name);
    }
}

void Name(QWidget* widget, const QString& name, const QString& description = QString()) {
    widget->setAccessibleName(name);
    if (!description.isEmpty()) {
        widget->setAccessibleDescription(description);
    }
}

// Assistive technology toggles a checkable tool button directly; the button then sets its
// action's checked state but does not execute it, so the handler would not run (checking
// would go on while the button says off). A toggle that came without the action's execution
// is made an execution of it, as a click would be.
void ToggleThroughAction(QToolButton* button) {
    QAction* action = button->defaultAction();
    if (!action || !action->isCheckable()) {
        return;
    }
    auto pending = std::make_shared<bool>(false);
    QObject::connect(action, &QAction::triggered, button, [pending] { *pending = false; });
    QObject::connect(button, &QToolButton::toggled, action, [action, pending] {
        // An execution announces itself right after the toggle, in the same call.
        *pending = true;
        QTimer::singleShot(0, action, [action, pending] {
            if (std::exchange(*pending, false)) {
                emit action->triggered(action->isChecked());
            }
        });
    });
}

// A tool bar's button for the tools that do not fit; the framework leaves it without a name.
void NameToolBar(QToolBar* bar, const QString& name) {
    Name(bar, name);
    for (auto* more : bar->findChildren<QToolButton*>(QStringLiteral("qt_toolbar_ext_button"))) {
        Name(more, QStringLiteral("More tools"));
    }
    for (auto* button : bar->findChildren<QToolButton*>()) {
        ToggleThroughAction(button);
    }
}

} // namespace

void TCorvaleFormMain::NameControlsForAssistiveTechnology() {
    Name(PageControl1, QStringLiteral("Pages"));
    for (int i = 0; i < PageControl1->count(); ++i) {
        Name(PageControl1->widget(i), PageControl1->tabText(i));
    }

    NameToolBar(ToolBar2, QStringLiteral("Address tools"));
    Name(LV1, QStringLiteral("Address history"),
         QStringLiteral("Each address change with the time it was seen"));
    Name(SB1, QStringLiteral("Address status"));
    NamePanels(SB1, {QStringLiteral("IP"), QStringLiteral("Current address"),
                     QStringLiteral("Last Check"), QStringLiteral("Last check time"),
                     QStringLiteral("Checking"), QStringLiteral("Spare")});

    NameToolBar(ToolBar1, QStringLiteral("Buddy tools"));
    Name(LV2, QStringLiteral("Buddy list"));
    Name(SB2, QStringLiteral("Buddy list status"));
    NamePanels(SB2, {QStringLiteral("Buddy list state"), QStringLiteral("Total"),
                     QStringLiteral("Buddy count"), QStringLiteral("Spare")});

    Name(PopupTray, QStringLiteral("Corvale"));
    Name(PopupLV1, QStringLiteral("Address history menu"));
    Name(PopupLV2, QStringLiteral("Buddy list menu"));
}
