#include "shell/components/DesignScale.h"

#include <algorithm>
#include <cmath>

namespace {

// The line height of the designed font: 8 points at 96 pixels per inch.
constexpr double kDesignLineHeight = 13.0;
// Spare pixels per text, so that rounding the scaled sizes never takes the last one away.
constexpr int kRoundingSpare = 2;

} // namespace

TDesignScale::TDesignScale(const QFontMetrics& metrics, std::initializer_list<TDesignText> texts) {
    for (const TDesignText& text : texts) {
        if (text.Room > 0) {
            const int needed = metrics.horizontalAdvance(text.Text) + kRoundingSpare;
            x_ = std::max(x_, needed / static_cast<double>(text.Room));
        }
    }
    y_ = std::max(1.0, metrics.lineSpacing() / kDesignLineHeight);
}

int TDesignScale::X(int pixels) const {
    return static_cast<int>(std::lround(pixels * x_));
}

int TDesignScale::Y(int pixels) const {
    return static_cast<int>(std::lround(pixels * y_));
}

int TDesignScale::DesignX(int pixels) const {
    const int design = static_cast<int>(std::lround(pixels / x_));
    // A width on screen never becomes 0, which a stored width list would not take back.
    return pixels > 0 ? std::max(1, design) : design;
}
