#include "core/Lib5.h"

#include <algorithm>

bool HasNoDigit(std::string_view text) {
    return std::none_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}
