#include "server/Checkpointer.h"

#include "server/Sqlite.h"

#include <chrono>
#include <iostream>
#include <memory>

namespace server {

namespace {
constexpr std::chrono::milliseconds kCheckpointInterval{500};
// How soon a change made by another process (an administration command) reaches the view.
constexpr std::chrono::milliseconds kCatchUpInterval{50};

void Checkpoint(std::unique_ptr<Database>& connection, const std::string& path) {
    try {
        if (!connection) {
            connection = std::make_unique<Database>(path);
            connection->Execute("PRAGMA busy_timeout = 5000");
        }
        // Passive: copies what it can without waiting for, or blocking, any request.
        connection->Execute("PRAGMA wal_checkpoint(PASSIVE)");
    } catch (const StorageError& error) {
        std::cerr << "corvale-server: checkpoint failed: " << error.what() << '\n';
    }
}
} // namespace

Checkpointer::Checkpointer(std::string databasePath, std::function<void()> catchUp)
    : databasePath_(std::move(databasePath)), catchUp_(std::move(catchUp)),
      thread_([this] { Loop(); }) {}

Checkpointer::~Checkpointer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void Checkpointer::Loop() {
    std::unique_ptr<Database> connection;
    auto nextCheckpoint = std::chrono::steady_clock::now() + kCheckpointInterval;
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, kCatchUpInterval, [this] { return stopping_; })) {
        lock.unlock();
        catchUp_();
        if (std::chrono::steady_clock::now() >= nextCheckpoint) {
            nextCheckpoint = std::chrono::steady_clock::now() + kCheckpointInterval;
            Checkpoint(connection, databasePath_);
        }
        lock.lock();
    }
}

} // namespace server
