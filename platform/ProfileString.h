#pragma once
// One key of one section of a named INI file, read and written the way the system's
// private-profile functions do it: names matched without regard to case, a missing file,
// section or key giving the default, every other line of the file kept on a write.

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// A read returns at most this many characters (what a 2048-byte buffer holds).
inline constexpr std::size_t kProfileValueMax = 2047;

// The value of `key` in `section` of `file`; names are trimmed of white space first. A value
// reads trimmed, with one pair of enclosing quotes removed; a line without "=" is no key and
// "key=" is the empty text. A missing file, section or key gives `defaultValue` without its
// trailing blanks. The result is cut to kProfileValueMax characters.
std::string ReadProfileString(const std::string& file, std::string_view section,
                              std::string_view key, std::string_view defaultValue);

// Sets `key` of `section` in `file` to `value` (its leading white space dropped), creating the
// file (mode 0600: it may hold the account) and the section when missing. The file is replaced
// as a whole in one rename (see ReplaceFileAtomically), so it is never left half written.
// Returns false, with errno set, when the write is refused: a file this process may not write
// (checked even when the value is already stored, as the system function opens the file for
// writing first), a folder it may not write or that does not exist, a file that exists but
// cannot be read, or names or a value that could not be read back as written (an empty name,
// a line break or zero byte anywhere, "]" in the section, "=" in the key or a key that starts
// like a section or a comment).
bool WriteProfileString(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value);

} // namespace platform
