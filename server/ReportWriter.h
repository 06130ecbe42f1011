#pragma once
// The writing thread for address reports whose logins were proven from memory. The reports
// that arrive while a transaction runs are written together in the next one (one commit for
// many), through the engine, and each is told only after the commit that holds it.

#include "server/Metrics.h"
#include "server/StorageEngine.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace server {

// Told once the report's transaction is over, on the writing thread.
using ReportDone = std::function<void(ReportOutcome)>;

class ReportWriter {
public:
    explicit ReportWriter(StorageEngine& engine);
    // Writes and tells every report still queued first.
    ~ReportWriter();
    ReportWriter(const ReportWriter&) = delete;
    ReportWriter& operator=(const ReportWriter&) = delete;

    void Queue(AddressReport report, ReportDone done);
    // Whether the host's row holds this very report already (same address, time and client
    // version), with no report waiting and nothing written by anyone since the view was last
    // checked: then writing it would change nothing, and the login it was proven with holds.
    bool AlreadyRecorded(const AddressReport& report);
    // Returns once every report queued so far has been written and told.
    void WaitUntilIdle();
    // Each transaction is counted there from now on; none to stop.
    void CountInto(Metrics* metrics) { metrics_.store(metrics); }
    // Whether the writing thread has moved since the last call that passed `seen`: it waits
    // with nothing to write, or it has taken another batch since. A writer stuck in one
    // transaction has not.
    bool HasMovedSince(std::uint64_t& seen);

private:
    using Batch = std::deque<std::pair<AddressReport, ReportDone>>;
    void WriteLoop();
    // With the lock held: false when stopping with nothing left to write.
    bool TakeBatch(std::unique_lock<std::mutex>& lock, Batch& batch);
    void WriteAndTell(Batch& batch);

    StorageEngine& engine_;
    std::atomic<Metrics*> metrics_{nullptr};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    Batch queue_;
    bool stopping_ = false;
    bool writing_ = false; // a batch taken from the queue is being written or told
    std::uint64_t batchesTaken_ = 0;
    std::thread thread_; // last: starts once everything it uses is there
};

} // namespace server
