#pragma once
// Whether a control's text has the room it needs: the width its style leaves for the text
// inside frames, indicators and margins, against the text's advance in the control's font.

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWidget>
#include <algorithm>

// The application font for a scope (the desktop's font, as the program gets it).
class TApplicationFontScope {
public:
    explicit TApplicationFontScope(qreal points,
                                   const QString& family = QStringLiteral("DejaVu Sans"))
        : saved_(QApplication::font()) {
        QFont font(family);
        font.setPointSizeF(points);
        QApplication::setFont(font);
    }
    ~TApplicationFontScope() { QApplication::setFont(saved_); }
    TApplicationFontScope(const TApplicationFontScope&) = delete;
    TApplicationFontScope& operator=(const TApplicationFontScope&) = delete;

private:
    QFont saved_;
};

// The width left for the text of a label, check box or push button (-1 for other controls).
inline int TextRoom(const QWidget* control) {
    if (const auto* label = qobject_cast<const QLabel*>(control)) {
        return label->contentsRect().width() - 2 * label->margin() - 2 * label->indent();
    }
    const auto* button = qobject_cast<const QAbstractButton*>(control);
    if (button == nullptr) {
        return -1;
    }
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    if (qobject_cast<const QCheckBox*>(button) != nullptr) {
        return button->style()
            ->subElementRect(QStyle::SE_CheckBoxContents, &option, button)
            .width();
    }
    if (qobject_cast<const QPushButton*>(button) != nullptr) {
        const QRect contents =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        // Less the style's margin around the label (both sides together), as its size hint.
        return contents.width() -
               button->style()->pixelMetric(QStyle::PM_ButtonMargin, &option, button);
    }
    return -1;
}

// The widest line of the control's text in its own font.
inline int TextAdvance(const QWidget* control, const QString& text) {
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        widest = std::max(widest, control->fontMetrics().horizontalAdvance(line));
    }
    return widest;
}
