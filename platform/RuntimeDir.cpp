#include "platform/RuntimeDir.h"

#include "platform/System.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Another user could have made the folder first and would then see our sockets and locks.
bool IsPrivateFolderOfOurs(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return false;
    }
    return S_ISDIR(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & 077) == 0;
}

std::string FallbackRuntimeDir() {
    const std::string path = TempPath() + "corvale-" + std::to_string(geteuid());
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    return IsPrivateFolderOfOurs(path) ? path + '/' : std::string();
}

} // namespace

std::string UserRuntimeDir() {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    if (dir && dir[0] == '/') {
        std::string path = dir;
        if (path.back() != '/') {
            path += '/';
        }
        return path;
    }
    return FallbackRuntimeDir();
}

} // namespace platform
