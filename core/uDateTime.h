#pragma once
// Date-times as the client keeps them (days since 30 December 1899, the fraction being the
// local time of day) and the one text form in which it shows them.

#include "core/uTypes.h"

#include <locale.h>
#include <optional>
#include <string>

struct TDateTimeParts {
    int Year = 0;
    int Month = 0;
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int MSec = 0;
};

// The date-time of the given parts, or none when they form no calendar date of the years 1
// to 9999 or no time of day (hours 0-23, minutes and seconds 0-59, milliseconds 0-999).
std::optional<TDateTime> TryEncodeDateTime(const TDateTimeParts& parts);
// The calendar parts of a date-time, the time rounded to the millisecond but never into the
// next day; none for a value outside the years 1 to 9999 (or not a number).
std::optional<TDateTimeParts> DecodeDateTime(TDateTime value);

// The display form: the abbreviated month name, the two-digit day and the four-digit year,
// then, unless the time is exactly 00:00:00.000, one blank and the time in the locale's time
// format with ":" between its fields. Under the C locale: "Dec 06 2026 12:30:05". Empty for a
// value outside the years 1 to 9999.
//
// This one uses the time conventions (LC_TIME) the process has selected, without changing
// any locale; the other the given locale object.
std::string FormatDisplayDateTime(TDateTime value);
std::string FormatDisplayDateTime(TDateTime value, locale_t timeLocale);
