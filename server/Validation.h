#pragma once
// What the service accepts as user IDs, host names, addresses and host lists. Values reach it
// unencoded and go back out inside comma- and semicolon-separated records, so anything that
// would break a record or a query is refused at the door.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace server {

inline constexpr std::size_t kMaxUserIdLength = 32;
inline constexpr std::size_t kMaxHostNameLength = 255;
inline constexpr std::size_t kMaxTypedPasswordLength = 128;
inline constexpr std::size_t kMaxOfferedHosts = 256;

// Well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF) without
// control characters: no C0 or C1 control and no DEL.
bool IsCleanText(std::string_view text);
// 1 to 32 ASCII letters, digits, ".", "_" or "-".
bool IsValidUserId(std::string_view userId);
// 1 to 255 bytes of clean text (above) without blanks, ",", ";", "&" or "=".
bool IsValidHostName(std::string_view name);
// 1 to 128 bytes without control characters.
bool IsValidTypedPassword(std::string_view password);
// Empty, or four decimal numbers 0 to 255 joined by "." (no signs, no leading zeros).
bool IsValidAddressReport(std::string_view address);
// Decimal host numbers joined by ","; none when empty, malformed, or too many.
std::optional<std::vector<std::int64_t>> ParseHostNumbers(std::string_view list);

} // namespace server
