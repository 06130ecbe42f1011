#include "core/uDateTime.h"

#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <langinfo.h>
#include <map>
#include <mutex>
#include <string_view>
#include <vector>

namespace {

using namespace std::chrono;

constexpr sys_days kDayZero = sys_days{year{1899} / December / 30};
constexpr long long kMSecPerDay = 86'400'000;

bool IsValidYmd(int y, int m, int d) {
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > 31) {
        return false;
    }
    return year_month_day{year{y}, month{static_cast<unsigned>(m)}, day{static_cast<unsigned>(d)}}
        .ok();
}

// ---- the locale's time pattern -------------------------------------------------------------

struct Token {
    bool conversion; // "%..." or literal text
    std::string text;
    char letter; // the conversion character, for conversions
};

// Cuts a strftime pattern into conversions (with their flags, width and E/O modifier) and
// literal runs; "%%" stays a conversion so that it is copied unchanged.
std::vector<Token> Tokenize(std::string_view pattern) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < pattern.size()) {
        if (pattern[i] != '%' || i + 1 >= pattern.size()) {
            const auto next = pattern.find('%', i + 1);
            const auto end = next == std::string_view::npos ? pattern.size() : next;
            if (!tokens.empty() && !tokens.back().conversion) {
                tokens.back().text += pattern.substr(i, end - i);
            } else {
                tokens.push_back({false, std::string(pattern.substr(i, end - i)), 0});
            }
            i = end;
            continue;
        }
        std::size_t j = i + 1;
        while (j < pattern.size() &&
               std::string_view("_-0^#").find(pattern[j]) != std::string_view::npos) {
            ++j;
        }
        while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9') {
            ++j;
        }
        if (j < pattern.size() && (pattern[j] == 'E' || pattern[j] == 'O')) {
            ++j;
        }
        if (j >= pattern.size()) {
            tokens.push_back({false, std::string(pattern.substr(i)), 0});
            break;
        }
        tokens.push_back({true, std::string(pattern.substr(i, j + 1 - i)), pattern[j]});
        i = j + 1;
    }
    return tokens;
}

// Replaces the composite conversions of a time pattern by their parts, so that the separators
// between hours, minutes and seconds become visible.
std::string ExpandTimePattern(std::string_view pattern, locale_t locale, int depth = 0) {
    std::string out;
    for (const Token& token : Tokenize(pattern)) {
        if (!token.conversion || depth > 2) {
            out += token.text;
            continue;
        }
        switch (token.letter) {
        case 'T':
        case 'X':
            out += "%H:%M:%S";
            break;
        case 'R':
            out += "%H:%M";
            break;
        case 'r': {
            std::string_view ampm = nl_langinfo_l(T_FMT_AMPM, locale);
            out += ExpandTimePattern(ampm.empty() ? "%I:%M:%S %p" : ampm, locale, depth + 1);
            break;
        }
        default:
            out += token.text;
        }
    }
    return out;
}

bool IsTimeField(const Token& token) {
    return token.conversion &&
           std::string_view("HIklMS").find(token.letter) != std::string_view::npos;
}

// The locale's time format with ":" as the separator between its hour, minute and second.
std::string TimePattern(locale_t locale) {
    const std::string_view native = nl_langinfo_l(T_FMT, locale);
    std::vector<Token> tokens =
        Tokenize(ExpandTimePattern(native.empty() ? "%H:%M:%S" : native, locale));
    std::string out;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        Token& token = tokens[i];
        const bool between = i > 0 && i + 1 < tokens.size() && IsTimeField(tokens[i - 1]) &&
                             IsTimeField(tokens[i + 1]);
        const bool isSeparator =
            token.text.size() == 1 &&
            std::string_view(".:,-/").find(token.text[0]) != std::string_view::npos;
        out += (!token.conversion && between && isSeparator) ? std::string(":") : token.text;
    }
    return out;
}

std::string FormatTime(const TDateTimeParts& parts, locale_t locale) {
    std::tm time{};
    time.tm_year = parts.Year - 1900;
    time.tm_mon = parts.Month - 1;
    time.tm_mday = parts.Day;
    time.tm_hour = parts.Hour;
    time.tm_min = parts.Minute;
    time.tm_sec = parts.Second;
    time.tm_isdst = -1;
    char text[128];
    const std::size_t length =
        strftime_l(text, sizeof text, TimePattern(locale).c_str(), &time, locale);
    std::string result(text, length);
    while (!result.empty() && result.back() == ' ') {
        result.pop_back(); // a time-zone conversion has nothing to show here
    }
    return result;
}

// The LC_TIME locale object for the name the process has selected; created once per name and
// kept for the life of the process (other threads may be using it). The table is never
// destroyed: a task may still format a time while the process ends, and the locale objects
// stay reachable (not reported as leaks).
locale_t ProcessTimeLocale() {
    static std::mutex& mutex = *new std::mutex;
    static std::map<std::string, locale_t>& byName = *new std::map<std::string, locale_t>;
    const char* selected = std::setlocale(LC_TIME, nullptr);
    const std::string name = selected ? selected : "C";
    std::lock_guard lock(mutex);
    if (const auto found = byName.find(name); found != byName.end()) {
        return found->second;
    }
    locale_t locale = newlocale(LC_TIME_MASK, name.c_str(), static_cast<locale_t>(nullptr));
    if (!locale) {
        locale = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
    }
    byName.emplace(name, locale);
    return locale;
}

} // namespace

std::optional<TDateTime> TryEncodeDateTime(const TDateTimeParts& p) {
    if (!IsValidYmd(p.Year, p.Month, p.Day) || p.Hour < 0 || p.Hour > 23 || p.Minute < 0 ||
        p.Minute > 59 || p.Second < 0 || p.Second > 59 || p.MSec < 0 || p.MSec > 999) {
        return std::nullopt;
    }
    const sys_days date{year{p.Year} / month{static_cast<unsigned>(p.Month)} /
                        day{static_cast<unsigned>(p.Day)}};
    const double dayNumber = static_cast<double>((date - kDayZero).count());
    const double time =
        ((p.Hour * 60.0 + p.Minute) * 60.0 * 1000.0 + p.Second * 1000.0 + p.MSec) / kMSecPerDay;
    // Before day zero the fraction still counts forward from midnight: -1.25 is 29 December
    // 1899, 06:00.
    return dayNumber < 0 ? dayNumber - time : dayNumber + time;
}

std::optional<TDateTimeParts> DecodeDateTime(TDateTime value) {
    if (!std::isfinite(value) || std::fabs(value) > 3'000'000.0) {
        return std::nullopt;
    }
    long long dayNumber = static_cast<long long>(std::trunc(value));
    long long msec = std::llround(std::fabs(value - std::trunc(value)) * kMSecPerDay);
    if (msec >= kMSecPerDay) {
        msec = kMSecPerDay - 1; // the last millisecond of its own day, never the next day
    }
    const year_month_day date{kDayZero + days{dayNumber}};
    const int y = static_cast<int>(date.year());
    if (y < 1 || y > 9999) {
        return std::nullopt;
    }
    TDateTimeParts parts;
    parts.Year = y;
    parts.Month = static_cast<int>(static_cast<unsigned>(date.month()));
    parts.Day = static_cast<int>(static_cast<unsigned>(date.day()));
    parts.Hour = static_cast<int>(msec / 3'600'000);
    parts.Minute = static_cast<int>(msec / 60'000 % 60);
    parts.Second = static_cast<int>(msec / 1000 % 60);
    parts.MSec = static_cast<int>(msec % 1000);
    return parts;
}

std::string FormatDisplayDateTime(TDateTime value, locale_t timeLocale) {
    const auto parts = DecodeDateTime(value);
    if (!parts) {
        return std::string();
    }
    char date[32];
    std::snprintf(date, sizeof date, " %02d %04d", parts->Day, parts->Year);
    std::string text = nl_langinfo_l(ABMON_1 + parts->Month - 1, timeLocale);
    text += date;
    if (parts->Hour != 0 || parts->Minute != 0 || parts->Second != 0 || parts->MSec != 0) {
        text += ' ';
        text += FormatTime(*parts, timeLocale);
    }
    return text;
}

std::string FormatDisplayDateTime(TDateTime value) {
    return FormatDisplayDateTime(value, ProcessTimeLocale());
}
