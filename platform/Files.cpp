#include "platform/Files.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool MakePrivateFolder(const std::string& path) {
    std::string folder = path;
    if (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    if (folder.empty() || (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)) {
        return false;
    }
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid()) {
        return false;
    }
    return (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 || ::chmod(folder.c_str(), 0700) == 0;
}

bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsNonFolderEntry(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::lstat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool MakeOwnerOnlyProgram(const std::string& path) {
    return ::chmod(path.c_str(), 0700) == 0;
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

} // namespace platform
