#include "server/WalWatch.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace server {

WalWatch::WalWatch(const std::string& walPath) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) {
        return;
    }
    if (inotify_add_watch(fd_, walPath.c_str(), IN_MODIFY | IN_DELETE_SELF | IN_MOVE_SELF) < 0) {
        return;
    }
    usable_ = true;
}

WalWatch::~WalWatch() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

// The event queue first, the flag second: a check that drained the queue keeps the flag set
// until the view holds what the drained events announced.
bool WalWatch::MayHaveChanged() {
    if (!usable_) {
        return true;
    }
    pollfd waiting{fd_, POLLIN, 0};
    if (poll(&waiting, 1, 0) != 0) {
        return true; // an event, or poll failed
    }
    return checking_.load();
}

void WalWatch::BeginCheck() {
    checking_ = true;
    if (!usable_) {
        return;
    }
    alignas(inotify_event) std::array<char, 4096> events{};
    for (;;) {
        const ssize_t got = read(fd_, events.data(), events.size());
        if (got < 0) {
            if (errno != EAGAIN && errno != EINTR) {
                usable_ = false;
            }
            if (errno != EINTR) {
                return;
            }
            continue;
        }
        for (ssize_t at = 0; at < got;) {
            inotify_event event;
            std::memcpy(&event, events.data() + at, sizeof event);
            // The log replaced or gone, or the queue overflowed: no longer a sure sign.
            if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_Q_OVERFLOW)) {
                usable_ = false;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
        }
    }
}

void WalWatch::EndCheck() {
    if (usable_) {
        checking_ = false;
    }
}

} // namespace server
