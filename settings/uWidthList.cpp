#include "settings/uWidthList.h"

#include "util/Lib1.h"

TListWidths DesignedListWidths() {
    return {{32, 100, 140}, {32, 95, 130, 95, 140}};
}

void ApplyWidthList(const std::string& text, TColumnWidths& widths) {
    std::string rest = text;
    std::string item;
    for (std::size_t column = 0; !rest.empty(); ++column) {
        SplitFirst(rest, ",", item, rest);
        const std::int32_t width = StrToIntSafe(item);
        if (width > 0 && column < widths.size()) {
            widths[column] = width;
        }
    }
}

std::string FormatWidthList(const TColumnWidths& widths) {
    std::string text;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        text += std::to_string(widths[i]);
        if (i + 1 < widths.size()) {
            text += ',';
        }
    }
    return text;
}
