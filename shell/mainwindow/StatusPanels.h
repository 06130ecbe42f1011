#pragma once
// A status bar made of panels side by side, each with a designed width and a text, addressed
// by index. The last panel reaches to the right edge; panels that do not fit are cut off at
// the edge, as the designed widths may add up to more than a narrow window has.

#include <QString>
#include <QWidget>
#include <vector>

struct TStatusPanelDef {
    QString Text;
    int Width;
};

class TStatusPanelBar : public QWidget {
public:
    TStatusPanelBar(const QString& name, std::vector<TStatusPanelDef> panels, QWidget* parent);

    int PanelCount() const { return static_cast<int>(panels_.size()); }
    // An index outside the panels is ignored (reads give empty text and width 0).
    QString PanelText(int index) const;
    void SetPanelText(int index, const QString& text);
    int PanelWidth(int index) const;
    // What the panel tells, for assistive technology ("Current address"); empty by default.
    QString PanelName(int index) const;
    void SetPanelName(int index, const QString& name);
    // Where the panel is drawn, in the bar's coordinates (empty when it is cut off).
    QRect PanelRect(int index) const;
    // The room for the panel's text inside its frame (empty when it is cut off).
    QRect PanelTextRect(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<TStatusPanelDef> panels_;
    std::vector<QString> names_;
};
