#include "platform/InstanceLock.h"

#include "platform/RuntimeDir.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

int LockWithoutWaiting(int fd, int operation) {
    int result = 0;
    do {
        result = flock(fd, operation | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result;
}

// A shared lock, so that it never stands in the way of anyone but the cleaner. Best effort:
// without it the guard still works; only the cleaner could then take the folder.
int KeepFolderFromCleaning(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0 && LockWithoutWaiting(fd, LOCK_SH) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void CloseIfOpen(int& fd) noexcept {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

} // namespace

InstanceLock InstanceLock::Acquire(const std::string& name) {
    const std::string folder = UserRuntimeDir();
    if (folder.empty()) {
        return InstanceLock(-1, -1, Status::Unavailable);
    }
    return AcquireIn(folder, name);
}

InstanceLock InstanceLock::AcquireIn(const std::string& folder, const std::string& name) {
    const std::string path = folder + name + ".lock";
    // Close-on-exec: a program we start (the updater) must not inherit the lock, or the
    // client it restarts would find itself "already running".
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return InstanceLock(-1, -1, Status::Unavailable);
    }
    if (LockWithoutWaiting(fd, LOCK_EX) == 0) {
        return InstanceLock(fd, KeepFolderFromCleaning(folder), Status::Acquired);
    }
    const Status status = errno == EWOULDBLOCK ? Status::HeldElsewhere : Status::Unavailable;
    close(fd);
    return InstanceLock(-1, -1, status);
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), folderFd_(std::exchange(other.folderFd_, -1)),
      status_(other.status_) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = std::exchange(other.fd_, -1);
        folderFd_ = std::exchange(other.folderFd_, -1);
        status_ = other.status_;
    }
    return *this;
}

InstanceLock::~InstanceLock() {
    Release();
}

void InstanceLock::Release() noexcept {
    // The file stays: removing it could let a starting process lock a file that is already
    // gone from the folder while a third one creates and locks a new one.
    CloseIfOpen(fd_);
    CloseIfOpen(folderFd_);
}

} // namespace platform
