#pragma once
// How tests reach a window's controls and commands: by object name, as a user finds them on
// screen, never through the window's members.

#include "shell/mainwindow/ActionList.h"
#include "support/Controls.h"

#include <QAction>
#include <QObject>
#include <QString>
#include <gtest/gtest.h>

inline QAction* Action(const QObject& window, const char* name) {
    return Control<QAction>(window, name);
}

// Runs the action named `name` as the user would: the update rules that were waiting run
// first (the user cannot click before the window thread is idle), then the action must exist
// and be enabled, or the test fails. Returns whether it ran.
inline bool TriggerAction(const QObject& window, const char* name) {
    if (auto* actions = window.findChild<TActionList*>()) {
        actions->UpdateActions();
    }
    QAction* action = window.findChild<QAction*>(testing_support::Name(name));
    if (action == nullptr) {
        ADD_FAILURE() << "no action named " << name;
        return false;
    }
    if (!action->isEnabled()) {
        ADD_FAILURE() << "the action " << name << " is disabled";
        return false;
    }
    action->trigger();
    return true;
}
