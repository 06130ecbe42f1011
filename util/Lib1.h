#pragma once
// Small text helpers shared by the whole client. Every function is stateless and safe to call
// from any thread. The unit's two helpers that reach the system, GetTempDir and RunProgram,
// live in platform/Lib1System.h.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A growable array of texts, indexed from 0; the caller sizes it before SplitToArray fills it.
using TArrayOfString = std::vector<std::string>;

// Raised by StrToIntSafe for a text of digits, commas and minus signs that is still no valid
// 32-bit integer. The message is "'<trimmed text>' is not a valid integer value".
class EConvertError : public std::runtime_error {
public:
    explicit EConvertError(const std::string& text);
};

// Cuts `text` at the first occurrence of `separator`. Without one, head is the whole text and
// tail is empty. `text` is taken by value so the same variable may be passed as head or tail.
void SplitFirst(std::string text, std::string_view separator, std::string& head, std::string& tail);

// Fills at most values.size() elements with the fields of `text` cut at `separator`.
// Elements past the last field keep their value; text past the last element is dropped.
void SplitToArray(std::string text, std::string_view separator, TArrayOfString& values);

// True when every character is a decimal digit, "," or "-" (and for empty text).
bool HasOnlyNumberChars(std::string_view text);

// Lenient number reading: 0 for empty or plainly non-numeric text; throws EConvertError for
// number-like text that is not a valid signed 32-bit decimal.
std::int32_t StrToIntSafe(std::string_view text);

inline std::string IfStr(bool flag, std::string a, std::string b) {
    return flag ? std::move(a) : std::move(b);
}

// An owned, zero-terminated copy of a text; empty text gives none (a null pointer).
using TStrCopy = std::unique_ptr<char[]>;
TStrCopy StrNewCopy(std::string_view text);
// The text an owned copy holds; none reads as empty text.
std::string StrFromCopy(const TStrCopy& copy);
