#include "platform/UserFolders.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

constexpr mode_t kCreatedFolderMode = 0700;

// The desktop standards ignore a relative path in these variables.
std::string AbsoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    return (value && value[0] == '/') ? std::string(value) : std::string();
}

std::string HomeFolder() {
    std::string home = AbsoluteEnv("HOME");
    if (!home.empty()) {
        return home;
    }
    const long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

} // namespace

std::string ConfigHome() {
    const std::string configHome = AbsoluteEnv("XDG_CONFIG_HOME");
    if (!configHome.empty()) {
        return WithoutTrailingSlashes(configHome);
    }
    const std::string home = HomeFolder();
    return home.empty() ? std::string() : WithoutTrailingSlashes(home) + "/.config";
}

std::error_code CreatePrivateFolders(const std::string& folder) {
    if (folder.empty() || folder[0] != '/') {
        return std::make_error_code(std::errc::invalid_argument);
    }
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), kCreatedFolderMode) != 0 && errno != EEXIST) {
            return {errno, std::generic_category()};
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        return {errno, std::generic_category()};
    }
    return S_ISDIR(info.st_mode) ? std::error_code()
                                 : std::make_error_code(std::errc::not_a_directory);
}

bool IsWritableFolder(const std::string& folder) {
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

} // namespace platform
