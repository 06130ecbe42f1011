#pragma once
// A push button bound to an action: it shows the action's caption, hint and enabled state and
// executes the action when pressed, as the tool buttons and menu items bound to it do.

class QAction;
class QPushButton;

void BindButtonToAction(QPushButton* button, QAction* action);
