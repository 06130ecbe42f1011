#pragma once
// Reading and changing one key in the text of an INI file, the way the system's private-profile
// functions see that text. Pure functions on bytes; the file itself is ProfileString's business.

#include <optional>
#include <string>
#include <string_view>

namespace platform::ini {

// White space for the profile functions: bytes 0x09 to 0x0D, the blank and 0x1A.
bool IsProfileSpace(char c);
std::string_view TrimProfileSpace(std::string_view text);
std::string_view TrimProfileSpaceLeft(std::string_view text);

// The value of `key` in the first section named `section` (both matched without regard to
// case; names are taken as given, already trimmed): the text after the first "=", trimmed, with
// one pair of enclosing quotes removed. None when the section or key is missing.
std::optional<std::string> FindValue(std::string_view text, std::string_view section,
                                     std::string_view key);

// `text` with `key` of `section` set to `value` (already validated and trimmed on the left):
// an existing key's value replaced in place, a new key after the last non-blank line of its
// section, a new section at the end. Every other byte stays, and added lines take the text's first
// line ending ("\n" when it has none). None when the key already holds exactly `value`.
std::optional<std::string> WithValue(std::string_view text, std::string_view section,
                                     std::string_view key, std::string_view value);

} // namespace platform::ini
