// The records of the buddy list and of the invite dialog's host list, and the date-time field
// of a buddy record, checked against a plain reading of the record grammar and the calendar.

#include "core/uTasksBuddies.h"
#include "tests/fuzz/FuzzCheck.h"
#include "util/Lib1.h"

#include <array>
#include <cstdio>

namespace {

// Items as the list replies are cut: every separator ends an item, the last item may lack
// its separator, empty text has none.
std::vector<std::string> Items(const std::string& text, std::string_view separator) {
    if (text.empty()) {
        return {};
    }
    std::vector<std::string> items = testing_support::AllFields(text, separator);
    if (items.back().empty()) {
        items.pop_back(); // the last separator ended the last item
    }
    return items;
}

std::string FieldAt(const std::vector<std::string>& fields, std::size_t index) {
    return index < fields.size() ? fields[index] : std::string();
}

bool IsBlank(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) > 32) {
            return false;
        }
    }
    return true;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

// The date-time field in the display form under the C locale ("Nov 11 2006 14:05:09", the
// date alone at midnight), or empty text when it holds no valid date and time.
std::string ExpectedDateTimeText(const std::string& field) {
    std::string_view rest = field;
    const std::string date = testing_support::TakeUntil(rest, ' ');
    const std::string time(rest);
    if (IsBlank(date) || IsBlank(time)) {
        return {};
    }
    const auto dateFields = testing_support::AllFields(date, "-");
    const auto timeFields = testing_support::AllFields(time, ":");
    std::array<int, 6> v{};
    for (std::size_t i = 0; i < 6; ++i) {
        const auto reading = testing_support::ReadNumber(i < 3 ? FieldAt(dateFields, i)
                                                               : FieldAt(timeFields, i - 3));
        if (reading.IsError) {
            return {};
        }
        v[i] = reading.Value;
    }
    const auto [year, month, day, hour, minute, second] = v;
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59) {
        return {};
    }
    const bool midnight = hour == 0 && minute == 0 && second == 0;
    if (year == 1899 && month == 12 && day == 30 && midnight) {
        return {}; // the day-zero value shows nothing
    }
    static constexpr std::array<const char*, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof text, "%s %02d %04d", kMonths[static_cast<std::size_t>(month - 1)],
                  day, year);
    std::string expected = text;
    if (!midnight) {
        std::snprintf(text, sizeof text, " %02d:%02d:%02d", hour, minute, second);
        expected += text;
    }
    return expected;
}

void CheckBuddyRecord(const std::string& record) {
    const auto fields = Items(record, ",");
    const TBuddyRow row = ParseBuddyRecord(record);
    FUZZ_CHECK(row.UserID == FieldAt(fields, 0));
    FUZZ_CHECK(row.Address == FieldAt(fields, 1));
    FUZZ_CHECK(row.Host == FieldAt(fields, 3));
    FUZZ_CHECK(row.DateTime == ExpectedDateTimeText(FieldAt(fields, 2)));
}

void CheckHostRecord(const std::string& record) {
    const auto fields = Items(record, ",");
    const auto number = testing_support::ReadNumber(FieldAt(fields, 0));
    try {
        const THostRow row = ParseHostRecord(record);
        FUZZ_CHECK(!number.IsError);
        FUZZ_CHECK(row.Number == number.Value);
        FUZZ_CHECK(row.Host == FieldAt(fields, 1));
    } catch (const EConvertError& e) {
        FUZZ_CHECK(number.IsError);
        FUZZ_CHECK(e.what() == testing_support::ConversionErrorText(number.Trimmed));
    }
}

} // namespace

// The input is the remainder of a list reply after "OK" and its blank.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string message = testing_support::Text(data, size);
    const auto records = CutItems(message, ";");
    FUZZ_CHECK(records == Items(message, ";"));
    for (const std::string& record : records) {
        CheckBuddyRecord(record);
        CheckHostRecord(record);
    }
    // The date-time field on its own, as a record with it in the third place.
    FUZZ_CHECK(BuddyDateTimeText(message) == ExpectedDateTimeText(message));
    return 0;
}
