#pragma once
// The background thread of the SQLite engine. Copying the write-ahead log back into the
// database syncs the disk, so it runs here, on a connection of its own, where no request waits
// behind it; and between checkpoints it asks the engine, often, to catch up with commits made
// by other processes, so that their changes reach the memory view soon.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace server {

class Checkpointer {
public:
    // `catchUp` runs on the thread about every 50 ms and must not throw.
    Checkpointer(std::string databasePath, std::function<void()> catchUp);
    // Returns once the thread is gone; a catch-up under way finishes first.
    ~Checkpointer();
    Checkpointer(const Checkpointer&) = delete;
    Checkpointer& operator=(const Checkpointer&) = delete;

private:
    void Loop();

    std::string databasePath_;
    std::function<void()> catchUp_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_; // last: starts once everything it uses is there
};

} // namespace server
