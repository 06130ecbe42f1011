#pragma once

#include <string_view>

// True when no character of `text` is a decimal digit (and for empty text).
bool HasNoDigit(std::string_view text);

// Worker threads have no window-message queue here, so there is nothing to pump.
inline void PumpMessages() {}
