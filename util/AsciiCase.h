#pragma once
// Case folding of the ASCII letters only: names on the wire, in the settings file and in the
// service's keys compare this way, whatever the locale the program runs in (std::tolower would
// fold other bytes too under some locales, and differently from one machine to the next).

#include <algorithm>
#include <string>
#include <string_view>

// 'A' to 'Z' become 'a' to 'z'; every other byte stays as it is.
constexpr char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string AsciiLower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return AsciiLower(c); });
    return lower;
}

constexpr bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiLower(x) == AsciiLower(y);
           });
}
