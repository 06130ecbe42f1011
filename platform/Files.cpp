#include "platform/Files.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
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

bool ReadFileInChunks(const std::string& path, const TFileChunkSink& sink) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    std::array<unsigned char, 64 * 1024> buffer{};
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        sink(buffer.data(), static_cast<std::size_t>(got));
    }
    ::close(fd);
    return ok;
}

} // namespace platform
