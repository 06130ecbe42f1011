#pragma once
// The single-instance guard: an exclusive lock on a file named after the guard in the user's
// runtime folder. The system releases it when the process ends, even after a crash, so it
// never goes stale. While it is held, the folder holds a BSD lock too, which age-based
// cleaning of /tmp (systemd-tmpfiles) takes as "in use": the folder is not removed from under
// a client that runs for weeks.

#include <string>

namespace platform {

class InstanceLock {
public:
    enum class Status {
        Acquired,      // this process is the only one holding it
        HeldElsewhere, // another process (or another lock object) holds it
        Unavailable,   // the lock file cannot be opened; nothing is guarded
    };

    // Takes the lock `name` in the user's runtime folder without waiting.
    static InstanceLock Acquire(const std::string& name);
    // The same, in the given folder (ending in "/").
    static InstanceLock AcquireIn(const std::string& folder, const std::string& name);

    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock(); // releases the lock when held

    Status status() const { return status_; }
    bool IsHeld() const { return status_ == Status::Acquired; }

private:
    InstanceLock(int fd, int folderFd, Status status)
        : fd_(fd), folderFd_(folderFd), status_(status) {}
    void Release() noexcept;

    int fd_ = -1;
    int folderFd_ = -1;
    Status status_ = Status::Unavailable;
};

} // namespace platform
