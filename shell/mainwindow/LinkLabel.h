#pragma once
// A label that reads as a link: blue, underlined, with the hand cursor; a click with the left
// button raises `clicked`.

#include <QLabel>

class TLinkLabel : public QLabel {
    Q_OBJECT

public:
    TLinkLabel(const QString& name, QWidget* parent);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};
