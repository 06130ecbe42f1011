#include "shell/mainwindow/StatusPanels.h"

#include "shell/mainwindow/StatusPanelsAccessible.h"

#include <QPainter>
#include <qdrawutil.h>
#include <utility>

namespace {

constexpr int kGap = 2;        // between two panels
constexpr int kTextIndent = 3; // between a panel's edge and its text

} // namespace

TStatusPanelBar::TStatusPanelBar(const QString& name, std::vector<TStatusPanelDef> panels,
                                 QWidget* parent)
    : QWidget(parent), panels_(std::move(panels)), names_(panels_.size()) {
    InstallStatusPanelAccessibility();
    setObjectName(name);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

QString TStatusPanelBar::PanelText(int index) const {
    return index >= 0 && index < PanelCount() ? panels_[static_cast<std::size_t>(index)].Text
                                              : QString();
}

void TStatusPanelBar::SetPanelText(int index, const QString& text) {
    if (index >= 0 && index < PanelCount() &&
        panels_[static_cast<std::size_t>(index)].Text != text) {
        const QString old = std::exchange(panels_[static_cast<std::size_t>(index)].Text, text);
        update(PanelRect(index));
        NotifyStatusPanelTextChanged(this, index, old);
    }
}

QString TStatusPanelBar::PanelName(int index) const {
    return index >= 0 && index < PanelCount() ? names_[static_cast<std::size_t>(index)] : QString();
}

void TStatusPanelBar::SetPanelName(int index, const QString& name) {
    if (index >= 0 && index < PanelCount()) {
        names_[static_cast<std::size_t>(index)] = name;
    }
}

int TStatusPanelBar::PanelWidth(int index) const {
    return index >= 0 && index < PanelCount() ? panels_[static_cast<std::size_t>(index)].Width : 0;
}

QRect TStatusPanelBar::PanelRect(int index) const {
    if (index < 0 || index >= PanelCount()) {
        return {};
    }
    int left = 0;
    for (int i = 0; i < index; ++i) {
        left += panels_[static_cast<std::size_t>(i)].Width + kGap;
    }
    if (left >= width()) {
        return {};
    }
    const bool last = index + 1 == PanelCount();
    const int right = last ? width() : std::min(width(), left + PanelWidth(index));
    return QRect(left, 1, std::max(right - left, 0), height() - 1);
}

QRect TStatusPanelBar::PanelTextRect(int index) const {
    const QRect frame = PanelRect(index);
    return frame.isEmpty() ? QRect() : frame.adjusted(kTextIndent, 1, -kTextIndent, -1);
}

QSize TStatusPanelBar::sizeHint() const {
    int width = 0;
    for (const auto& panel : panels_) {
        width += panel.Width + kGap;
    }
    return {width, fontMetrics().height() + 6};
}

QSize TStatusPanelBar::minimumSizeHint() const {
    return {0, sizeHint().height()};
}

void TStatusPanelBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    for (int i = 0; i < PanelCount(); ++i) {
        const QRect frame = PanelRect(i);
        if (frame.isEmpty()) {
            continue;
        }
        qDrawShadePanel(&painter, frame, palette(), true, 1);
        const QRect inner = PanelTextRect(i);
        const QString text = fontMetrics().elidedText(PanelText(i), Qt::ElideRight, inner.width());
        painter.drawText(inner, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    }
}
