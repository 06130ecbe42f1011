#pragma once
// Start with the system: the named Run value is kept as an XDG autostart entry named after it,
// $XDG_CONFIG_HOME/autostart/<name>.desktop (default ~/.config/autostart), whose Exec= line
// runs the program.

#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace platform {

// A Run value that cannot be written or removed. The text is the system's message for the
// failure (as "Permission denied"), nothing more.
class ERegistryError : public std::runtime_error {
public:
    explicit ERegistryError(std::error_code code);
    std::error_code code() const noexcept { return code_; }

private:
    std::error_code code_;
};

// $XDG_CONFIG_HOME/autostart when that is an absolute path, else $HOME/.config/autostart
// (the home folder from the user database when HOME is unset). Throws ERegistryError when no
// home folder is known.
std::string AutostartFolder();
// The entry that stands for the Run value `valueName`.
std::string AutostartEntryPath(std::string_view valueName);

// One argument of an Exec= line: wrapped in double quotes when it holds a reserved character
// (with ", `, $ and \ escaped inside the quotes), "%" doubled, and then the desktop-entry
// string escapes applied, so "/opt/my app/x" becomes "\"/opt/my app/x\"".
std::string QuoteExecArgument(std::string_view argument);
// The whole desktop entry that runs `programPath` with no arguments.
std::string AutostartEntryText(std::string_view valueName, std::string_view programPath);

// Creates or replaces the Run value `valueName` whose data is the program's full path (the
// autostart folder is created, mode 0700, when missing). Throws ERegistryError.
void WriteRegValue(std::string_view valueName, std::string_view programPath);
// Removes the Run value; one that does not exist is no error. Throws ERegistryError.
void DeleteRegValue(std::string_view valueName);

} // namespace platform
