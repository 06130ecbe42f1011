#pragma once
// The controls the window's pages are built of, made as the design has them: labels show
// their text as it stands, no push button becomes the default button, and a key can stand
// for a button while the focus is anywhere on the page.

#include <QKeySequence>
#include <QString>

class QLabel;
class QPushButton;
class QWidget;

QLabel* NewLabel(const char* name, const QString& text, QWidget* parent);
QPushButton* NewButton(const char* name, const QString& text, QWidget* parent);
// The key presses `button` while the focus is anywhere on `page`.
void PressOnKey(QWidget* page, const QKeySequence& key, QPushButton* button);
