#include "platform/RunValue.h"

#include "platform/AtomicFile.h"
#include "platform/UserFolders.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr mode_t kEntryMode = 0644;

[[noreturn]] void Raise(int error) {
    throw ERegistryError({error, std::generic_category()});
}

// The name becomes a file name: it must not reach outside the autostart folder.
void CheckValueName(std::string_view valueName) {
    if (valueName.empty() || valueName == "." || valueName == ".." ||
        valueName.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos) {
        Raise(EINVAL);
    }
}

// mkdir -p, the created folders readable by the user alone.
void CreateFolders(const std::string& folder) {
    if (const auto error = CreatePrivateFolders(folder)) {
        throw ERegistryError(error);
    }
}

bool IsExecReserved(char c) {
    return std::string_view(" \t\n\"'\\><~|&;$*?#()`").find(c) != std::string_view::npos;
}

// The string escapes of the desktop-entry format, for any value.
std::string EscapeEntryString(std::string_view text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\r':
            escaped += "\\r";
            break;
        default:
            escaped += c;
        }
    }
    if (!escaped.empty() && escaped.front() == ' ') {
        escaped.replace(0, 1, "\\s");
    }
    return escaped;
}

} // namespace

ERegistryError::ERegistryError(std::error_code code)
    : std::runtime_error(code.message()), code_(code) {}

std::string AutostartFolder() {
    const std::string configHome = ConfigHome();
    if (configHome.empty()) {
        Raise(ENOENT);
    }
    return configHome + "/autostart";
}

std::string AutostartEntryPath(std::string_view valueName) {
    return AutostartFolder() + "/" + std::string(valueName) + ".desktop";
}

std::string QuoteExecArgument(std::string_view argument) {
    bool needsQuotes = argument.empty();
    for (char c : argument) {
        needsQuotes = needsQuotes || IsExecReserved(c);
    }
    std::string quoted;
    if (needsQuotes) {
        quoted += '"';
    }
    for (char c : argument) {
        if (needsQuotes && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            quoted += '\\';
        }
        quoted += c;
        if (c == '%') {
            quoted += '%';
        }
    }
    if (needsQuotes) {
        quoted += '"';
    }
    return EscapeEntryString(quoted);
}

std::string AutostartEntryText(std::string_view valueName, std::string_view programPath) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=" +
           EscapeEntryString(valueName) +
           "\n"
           "Exec=" +
           QuoteExecArgument(programPath) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

void WriteRegValue(std::string_view valueName, std::string_view programPath) {
    CheckValueName(valueName);
    if (programPath.empty()) {
        Raise(EINVAL);
    }
    CreateFolders(AutostartFolder());
    if (const auto error =
            ReplaceFileAtomically(AutostartEntryPath(valueName),
                                  AutostartEntryText(valueName, programPath), kEntryMode)) {
        throw ERegistryError(error);
    }
}

void DeleteRegValue(std::string_view valueName) {
    CheckValueName(valueName);
    if (::unlink(AutostartEntryPath(valueName).c_str()) != 0 && errno != ENOENT) {
        Raise(errno);
    }
}

} // namespace platform
