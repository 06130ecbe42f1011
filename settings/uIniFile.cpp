#include "settings/uIniFile.h"

#include "platform/ProfileString.h"
#include "util/Lib1.h"

#include <charconv>

EWriteError::EWriteError(const std::string& iniFile)
    : std::runtime_error("Unable to write to " + iniFile) {}

namespace {

bool IsHexPrefixed(std::string_view text) {
    return text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

template <typename T> std::optional<T> ParseWhole(std::string_view text, int base) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<std::int32_t> ParseIniInteger(std::string_view text) {
    if (IsHexPrefixed(text)) {
        const std::string_view digits = text.substr(2);
        // from_chars would take a sign here; hexadecimal digits alone are wanted.
        if (digits.front() == '-' || digits.front() == '+') {
            return std::nullopt;
        }
        const auto bits = ParseWhole<std::uint32_t>(digits, 16);
        if (!bits) {
            return std::nullopt;
        }
        return static_cast<std::int32_t>(*bits);
    }
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return std::nullopt;
        }
    }
    return ParseWhole<std::int32_t>(text, 10);
}

std::string ReadIniString(const std::string& iniFile, std::string_view section,
                          std::string_view key, std::string_view defaultValue) {
    return platform::ReadProfileString(iniFile, section, key, defaultValue);
}

std::int32_t ReadIniInteger(const std::string& iniFile, std::string_view section,
                            std::string_view key, std::int32_t defaultValue) {
    return ParseIniInteger(ReadIniString(iniFile, section, key, "")).value_or(defaultValue);
}

bool ReadIniBool(const std::string& iniFile, std::string_view section, std::string_view key,
                 bool defaultValue) {
    return ReadIniInteger(iniFile, section, key, defaultValue ? 1 : 0) != 0;
}

void WriteIniString(const std::string& iniFile, std::string_view section, std::string_view key,
                    std::string_view value) {
    if (!platform::WriteProfileString(iniFile, section, key, value)) {
        throw EWriteError(iniFile);
    }
}

void WriteIniInteger(const std::string& iniFile, std::string_view section, std::string_view key,
                     std::int32_t value) {
    WriteIniString(iniFile, section, key, std::to_string(value));
}

void WriteIniBool(const std::string& iniFile, std::string_view section, std::string_view key,
                  bool value) {
    WriteIniString(iniFile, section, key, IfStr(value, "1", "0"));
}
