#pragma once
// Typed access to single keys of the settings file: texts, integers and booleans in the forms
// the file has always used. Every write reaches the file at once; a refused one raises
// EWriteError.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

// A write to the settings file that the system refused: "Unable to write to <full path>".
class EWriteError : public std::runtime_error {
public:
    explicit EWriteError(const std::string& iniFile);
};

// A text as the settings file's integers are read: signed decimal, or, for a text longer than
// two characters, "0x"/"0X" followed by hexadecimal digits worth at most 32 bits (taken as a
// signed value, so 0xFFFFFFFF is -1). None for anything else, the empty text included.
std::optional<std::int32_t> ParseIniInteger(std::string_view text);

std::string ReadIniString(const std::string& iniFile, std::string_view section,
                          std::string_view key, std::string_view defaultValue);
// The default when the key is missing or its text is no valid integer.
std::int32_t ReadIniInteger(const std::string& iniFile, std::string_view section,
                            std::string_view key, std::int32_t defaultValue);
// Read as an integer: any non-zero value is true.
bool ReadIniBool(const std::string& iniFile, std::string_view section, std::string_view key,
                 bool defaultValue);

void WriteIniString(const std::string& iniFile, std::string_view section, std::string_view key,
                    std::string_view value);
// Written in signed decimal.
void WriteIniInteger(const std::string& iniFile, std::string_view section, std::string_view key,
                     std::int32_t value);
// Written as "1" or "0".
void WriteIniBool(const std::string& iniFile, std::string_view section, std::string_view key,
                  bool value);
