#include "shell/mainwindow/LinkLabel.h"

#include <QMouseEvent>

TLinkLabel::TLinkLabel(const QString& name, QWidget* parent) : QLabel(parent) {
    setObjectName(name);
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    QPalette blue = palette();
    blue.setColor(QPalette::WindowText, Qt::blue);
    setPalette(blue);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit clicked();
    }
    QLabel::mouseReleaseEvent(event);
}
