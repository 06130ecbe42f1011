#pragma once
// Whether another connection may have committed since the memory view was last brought up to
// date. Every commit writes the database's write-ahead log, and the system queues a change
// event for a watched file before the write returns; so with no event waiting, every commit
// made so far has been seen by the last check of the view. Our own commits count too, which
// only errs on the safe side: the next check of the view settles them.

#include <atomic>
#include <string>

namespace server {

class WalWatch {
public:
    // Watches the log at `walPath`; a log that cannot be watched always "may have changed".
    explicit WalWatch(const std::string& walPath);
    ~WalWatch();
    WalWatch(const WalWatch&) = delete;
    WalWatch& operator=(const WalWatch&) = delete;

    // Any thread: false only when nothing was written since the last settled check.
    bool MayHaveChanged();

    // One check of the view: call Begin, then look for other connections' commits (and load
    // what they changed), then End. Checks must not overlap each other.
    void BeginCheck();
    void EndCheck();

private:
    int fd_ = -1;
    std::atomic<bool> usable_{false};
    std::atomic<bool> checking_{true}; // or never settled
};

} // namespace server
