#include "platform/RuntimeDir.h"

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

std::string WithSlash(std::string path) {
    if (path.back() != '/') {
        path += '/';
    }
    return path;
}

// A relative path would mean another folder for every working folder. A trailing "/" is
// dropped before the check, since lstat would follow a link named with one.
std::string ChosenRuntimeDir(std::string chosen) {
    while (chosen.size() > 1 && chosen.back() == '/') {
        chosen.pop_back();
    }
    if (chosen.front() != '/' || !IsPrivateFolderOfOurs(chosen)) {
        return {};
    }
    return WithSlash(chosen);
}

} // namespace

std::string UserRuntimeDirUnder(const std::string& tempRoot) {
    const std::string folder = tempRoot + "corvale-" + std::to_string(geteuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    return IsPrivateFolderOfOurs(folder) ? folder + '/' : std::string();
}

std::string UserRuntimeDir() {
    const char* chosen = std::getenv("CORVALE_RUNTIME_DIR");
    if (chosen && chosen[0] != '\0') {
        return ChosenRuntimeDir(chosen);
    }
    return UserRuntimeDirUnder("/tmp/");
}

} // namespace platform
