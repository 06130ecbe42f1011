#include "platform/ProfileString.h"

#include "platform/AtomicFile.h"
#include "platform/IniText.h"

#include <cerrno>

namespace platform {

namespace {

constexpr mode_t kNewProfileFileMode = 0600;

bool HasLineBreakOrZero(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool ReadsBackAsWritten(std::string_view section, std::string_view key, std::string_view value) {
    if (section.empty() || key.empty()) {
        return false;
    }
    if (HasLineBreakOrZero(section) || HasLineBreakOrZero(key) || HasLineBreakOrZero(value)) {
        return false;
    }
    return section.find(']') == std::string_view::npos && key.find('=') == std::string_view::npos &&
           key.front() != '[' && key.front() != ';';
}

std::string_view WithoutTrailingBlanks(std::string_view text) {
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

bool Fail(const std::error_code& error) {
    errno = error.value();
    return false;
}

} // namespace

std::string ReadProfileString(const std::string& file, std::string_view section,
                              std::string_view key, std::string_view defaultValue) {
    std::error_code error;
    const auto text = ReadFileBytes(file, error);
    std::optional<std::string> value;
    if (text) {
        value = ini::FindValue(*text, ini::TrimProfileSpace(section), ini::TrimProfileSpace(key));
    }
    std::string result =
        value ? std::move(*value) : std::string(WithoutTrailingBlanks(defaultValue));
    if (result.size() > kProfileValueMax) {
        result.resize(kProfileValueMax);
    }
    return result;
}

bool WriteProfileString(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value) {
    section = ini::TrimProfileSpace(section);
    key = ini::TrimProfileSpace(key);
    value = ini::TrimProfileSpaceLeft(value);
    if (!ReadsBackAsWritten(section, key, value)) {
        return Fail(std::make_error_code(std::errc::invalid_argument));
    }

    std::error_code error;
    const auto old = ReadFileBytes(file, error);
    if (!old && error != std::errc::no_such_file_or_directory) {
        return Fail(error); // never replace what could not be read
    }
    if (old) {
        if (const auto refused = CheckWritable(file)) {
            return Fail(refused);
        }
    }
    const auto updated = ini::WithValue(old.value_or(std::string()), section, key, value);
    if (!updated) {
        return true; // already stored: the file stays untouched
    }
    if (const auto failed = ReplaceFileAtomically(file, *updated, kNewProfileFileMode)) {
        return Fail(failed);
    }
    return true;
}

} // namespace platform
