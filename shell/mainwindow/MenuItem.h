#pragma once
// A menu item bound to an action, with a name of its own: it shows the action's caption,
// hint, image, enabled and checked state, and executes the action when chosen. Its own
// visibility stays its own, so a menu can hide an item without hiding the action elsewhere.

class QAction;
class QMenu;

QAction* AddMenuItem(QMenu* menu, const char* name, QAction* action);
QAction* AddMenuSeparator(QMenu* menu, const char* name);
