#pragma once
// Forms are drawn in pixels for an 8-point font at 96 pixels per inch. Where the font in use
// needs more room than that, every designed position and size grows by one factor per
// direction, so that no text of the design is cut and the form keeps its proportions. It
// never shrinks: a font whose texts fit keeps the designed pixels.

#include <QFontMetrics>
#include <QRect>
#include <QSize>
#include <QString>
#include <initializer_list>

// A text of the design and the width it has there, in design pixels, less any frame, indent
// or indicator around it.
struct TDesignText {
    QString Text;
    int Room;
};

class TDesignScale {
public:
    // The designed pixels as they stand.
    TDesignScale() = default;
    // Wide enough for each of the texts, tall enough for the font's lines.
    TDesignScale(const QFontMetrics& metrics, std::initializer_list<TDesignText> texts);

    double XFactor() const { return x_; }
    double YFactor() const { return y_; }
    int X(int pixels) const;
    int Y(int pixels) const;
    // Back from pixels on screen to design pixels: the inverse of X for any width X gave.
    int DesignX(int pixels) const;
    QSize Size(int width, int height) const { return {X(width), Y(height)}; }
    QRect Rect(int left, int top, int width, int height) const {
        return {X(left), Y(top), X(width), Y(height)};
    }

private:
    double x_ = 1.0;
    double y_ = 1.0;
};
