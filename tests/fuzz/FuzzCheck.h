#pragma once
// What every fuzz target shares: a property check that stops the run with a readable message
// (libFuzzer keeps the input that broke it), the text of an input, and plain reference
// readings written without the code under test.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

[[noreturn]] inline void Fail(const char* file, int line, const char* what) {
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what);
    std::abort();
}

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            ::testing_support::Fail(__FILE__, __LINE__, #condition);                               \
        }                                                                                          \
    } while (false)

inline std::string Text(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// Cuts off the text before the first `separator` (removed); the whole text when there is none.
inline std::string TakeUntil(std::string_view& rest, char separator) {
    const auto at = rest.find(separator);
    std::string head(rest.substr(0, at));
    rest.remove_prefix(at == std::string_view::npos ? rest.size() : at + 1);
    return head;
}

// Every occurrence of a non-empty `separator`, left to right without overlap, cuts the text:
// "a;;b" gives a, "", b; a trailing separator gives a trailing empty field.
inline std::vector<std::string> AllFields(std::string_view text, std::string_view separator) {
    std::vector<std::size_t> cuts;
    for (std::size_t at = text.find(separator); at != std::string_view::npos;
         at = text.find(separator, at + separator.size())) {
        cuts.push_back(at);
    }
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t cut : cuts) {
        fields.emplace_back(text.substr(start, cut - start));
        start = cut + separator.size();
    }
    fields.emplace_back(text.substr(start));
    return fields;
}

// The lenient number reading of the client, done the plain way: blanks and control bytes
// trimmed; empty text or a byte other than a digit, "," or "-" gives 0; otherwise the text must
// be an optional "-" and digits forming a signed 32-bit value, or the reading is an error.
struct NumberReading {
    bool IsError = false;
    std::int32_t Value = 0;
    std::string Trimmed;
};

inline NumberReading ReadNumber(std::string_view text) {
    std::size_t first = 0, last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= 32) {
        ++first;
    }
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32) {
        --last;
    }
    NumberReading reading;
    reading.Trimmed = std::string(text.substr(first, last - first));
    const std::string& t = reading.Trimmed;
    for (char c : t) {
        if (!((c >= '0' && c <= '9') || c == ',' || c == '-')) {
            return reading; // plainly no number: 0
        }
    }
    if (t.empty()) {
        return reading;
    }
    const bool negative = t[0] == '-';
    const std::size_t digitsFrom = negative ? 1 : 0;
    if (digitsFrom == t.size()) {
        reading.IsError = true;
        return reading;
    }
    std::int64_t magnitude = 0;
    for (std::size_t i = digitsFrom; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9') {
            reading.IsError = true;
            return reading;
        }
        magnitude = magnitude * 10 + (t[i] - '0');
        if (magnitude > 2'147'483'648LL) {
            reading.IsError = true;
            return reading;
        }
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > 2'147'483'647LL) {
        reading.IsError = true;
        return reading;
    }
    reading.Value = static_cast<std::int32_t>(value);
    return reading;
}

inline std::string ConversionErrorText(const std::string& trimmed) {
    return "'" + trimmed + "' is not a valid integer value";
}

} // namespace testing_support
