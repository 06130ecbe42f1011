#pragma once
// The remembered column widths of the two lists: one text per list, the widths in pixels from
// left to right as decimal integers joined by ",".

#include <cstdint>
#include <string>
#include <vector>

using TColumnWidths = std::vector<std::int32_t>;

struct TListWidths {
    TColumnWidths IP;      // the address history LV1: "No", "IP Address", "Date/Time"
    TColumnWidths Buddies; // the buddy list LV2
    bool operator==(const TListWidths&) const = default;
};

// The widths the main window lays its lists out with (and keeps when nothing is stored).
TListWidths DesignedListWidths();

// Applies a stored list to `widths` item by item: each item is read with StrToIntSafe and
// sets its column when it is greater than 0; empty, zero, negative and non-numeric items leave
// their column as it is, items beyond the last column are ignored. An item such as "5-" raises
// EConvertError, and the items before it stay applied.
void ApplyWidthList(const std::string& text, TColumnWidths& widths);

// "32,100,140": no spaces, no trailing ",".
std::string FormatWidthList(const TColumnWidths& widths);
