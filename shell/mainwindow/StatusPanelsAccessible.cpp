#include "shell/mainwindow/StatusPanelsAccessible.h"

#include "shell/mainwindow/StatusPanels.h"

#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QPointer>
#include <vector>

namespace {

// One panel: it has no object of its own, so it lives as long as its bar's interface.
class TPanelAccessible final : public QAccessibleInterface, public QAccessibleTextInterface {
public:
    TPanelAccessible(TStatusPanelBar* bar, int index) : bar_(bar), index_(index) {}

    bool isValid() const override { return bar_ && index_ < bar_->PanelCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return bar_ ? bar_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return bar_ ? QAccessible::queryAccessibleInterface(bar_.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override {
        if (!isValid()) {
            return {};
        }
        switch (t) {
        case QAccessible::Name:
            return bar_->PanelName(index_);
        case QAccessible::Value:
            return bar_->PanelText(index_);
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid()) {
            return {};
        }
        const QRect local = bar_->PanelRect(index_);
        return local.isEmpty() ? QRect() : QRect(bar_->mapToGlobal(local.topLeft()), local.size());
    }
    QAccessible::Role role() const override { return QAccessible::StaticText; }
    QAccessible::State state() const override {
        QAccessible::State state;
        state.readOnly = true;
        state.invisible = !bar_ || !bar_->isVisible() || bar_->PanelRect(index_).isEmpty();
        state.offscreen = state.invisible;
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::TextInterface ? static_cast<QAccessibleTextInterface*>(this)
                                                  : nullptr;
    }

    // The shown text, read only, without a caret or selection.
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int start, int end) const override {
        const QString shown = Shown();
        start = std::clamp(start, 0, static_cast<int>(shown.size()));
        end = end < 0 ? static_cast<int>(shown.size())
                      : std::clamp(end, start, static_cast<int>(shown.size()));
        return shown.mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(Shown().size()); }
    QRect characterRect(int offset) const override {
        const QString shown = Shown();
        if (!isValid() || offset < 0 || offset >= shown.size()) {
            return {};
        }
        const QFontMetrics metrics = bar_->fontMetrics();
        const QRect panel = rect();
        const int left = metrics.horizontalAdvance(shown.left(offset));
        return {panel.left() + 3 + left, panel.top(), metrics.horizontalAdvance(shown.at(offset)),
                panel.height()};
    }
    int offsetAtPoint(const QPoint& point) const override {
        for (int i = 0; i < characterCount(); ++i) {
            if (characterRect(i).contains(point)) {
                return i;
            }
        }
        return -1;
    }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }

private:
    QString Shown() const { return isValid() ? bar_->PanelText(index_) : QString(); }

    QPointer<TStatusPanelBar> bar_;
    int index_;
};

class TStatusBarAccessible final : public QAccessibleWidget {
public:
    explicit TStatusBarAccessible(TStatusPanelBar* bar)
        : QAccessibleWidget(bar, QAccessible::StatusBar) {
        for (int i = 0; i < bar->PanelCount(); ++i) {
            auto* panel = new TPanelAccessible(bar, i);
            QAccessible::registerAccessibleInterface(panel);
            panels_.push_back(QAccessible::uniqueId(panel));
        }
    }
    ~TStatusBarAccessible() override {
        for (const QAccessible::Id id : panels_) {
            QAccessible::deleteAccessibleInterface(id);
        }
    }

    int childCount() const override { return static_cast<int>(panels_.size()); }
    QAccessibleInterface* child(int index) const override {
        return index >= 0 && index < childCount()
                   ? QAccessible::accessibleInterface(panels_[static_cast<std::size_t>(index)])
                   : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (int i = 0; i < childCount(); ++i) {
            if (this->child(i) == child) {
                return i;
            }
        }
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        for (int i = 0; i < childCount(); ++i) {
            if (child(i)->rect().contains(x, y)) {
                return child(i);
            }
        }
        return nullptr;
    }

private:
    std::vector<QAccessible::Id> panels_;
};

QAccessibleInterface* StatusBarFactory(const QString&, QObject* object) {
    auto* bar = dynamic_cast<TStatusPanelBar*>(object);
    return bar ? new TStatusBarAccessible(bar) : nullptr;
}

} // namespace

void InstallStatusPanelAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(StatusBarFactory);
        return true;
    }();
    (void)installed;
}

void NotifyStatusPanelTextChanged(TStatusPanelBar* bar, int index, const QString& oldText) {
    if (!QAccessible::isActive()) {
        return; // nobody listens: do not create the interfaces for nothing
    }
    QAccessibleInterface* barInterface = QAccessible::queryAccessibleInterface(bar);
    QAccessibleInterface* panel = barInterface ? barInterface->child(index) : nullptr;
    if (!panel) {
        return;
    }
    QAccessibleTextUpdateEvent textChange(panel, 0, oldText, bar->PanelText(index));
    QAccessible::updateAccessibility(&textChange);
    QAccessibleValueChangeEvent valueChange(panel, bar->PanelText(index));
    QAccessible::updateAccessibility(&valueChange);
}
