#include "shell/mainwindow/PageControls.h"

#include <QLabel>
#include <QPushButton>
#include <QShortcut>

QLabel* NewLabel(const char* name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    return label;
}

QPushButton* NewButton(const char* name, const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

void PressOnKey(QWidget* page, const QKeySequence& key, QPushButton* button) {
    auto* shortcut = new QShortcut(key, page);
    shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    QObject::connect(shortcut, &QShortcut::activated, button, &QPushButton::click);
}
