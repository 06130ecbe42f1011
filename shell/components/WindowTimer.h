#pragma once
// The window's timers (the check timer, the tray's icon cycle) count their period in a signed
// 32 bits, about 24.8 days: a longer period runs as that longest one, never wrapped to a
// negative one.

#include <algorithm>
#include <cstdint>

inline constexpr std::int32_t kMaxWindowTimerPeriodMs = INT32_MAX;

inline constexpr std::int32_t WindowTimerPeriod(std::uint32_t periodMs) {
    return static_cast<std::int32_t>(
        std::min<std::uint32_t>(periodMs, static_cast<std::uint32_t>(kMaxWindowTimerPeriodMs)));
}
