#include "server/ReportWriter.h"

#include "server/MemoryView.h"

#include <algorithm>
#include <iostream>
#include <vector>

namespace server {

namespace {
// Reports written in one transaction at most; more wait for the next one.
constexpr std::size_t kMaxReportsPerCommit = 256;
} // namespace

ReportWriter::ReportWriter(StorageEngine& engine)
    : engine_(engine), thread_([this] { WriteLoop(); }) {}

ReportWriter::~ReportWriter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void ReportWriter::Queue(AddressReport report, ReportDone done) {
    {
        std::lock_guard lock(mutex_);
        queue_.emplace_back(std::move(report), std::move(done));
    }
    wake_.notify_one();
}

bool ReportWriter::AlreadyRecorded(const AddressReport& report) {
    std::lock_guard lock(mutex_);
    // The view is trusted only when nothing can have changed the row behind it: no report is
    // waiting or being written (it may be for the same host, and a later one must not overtake
    // it; the view shows every commit before the writer reports itself idle), and the engine
    // knows of no commit elsewhere that the view misses (another connection's changed
    // password or deleted account would make its login and row stale).
    return queue_.empty() && !writing_ && !engine_.ViewMayBeBehind() &&
           engine_.View().Holds(report.Account, report.Host, report.Address, report.Now,
                                report.ClientVersion);
}

void ReportWriter::WaitUntilIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return (queue_.empty() && !writing_) || stopping_; });
}

bool ReportWriter::HasMovedSince(std::uint64_t& seen) {
    std::lock_guard lock(mutex_);
    // Not writing means waiting for work: the queue is empty whenever the lock is free then.
    const bool moved = !writing_ || batchesTaken_ != seen;
    seen = batchesTaken_;
    return moved;
}

void ReportWriter::WriteLoop() {
    Batch batch;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            if (!TakeBatch(lock, batch)) {
                return;
            }
        }
        WriteAndTell(batch);
        batch.clear();
    }
}

bool ReportWriter::TakeBatch(std::unique_lock<std::mutex>& lock, Batch& batch) {
    writing_ = false;
    if (queue_.empty()) {
        idle_.notify_all();
    }
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) {
        return false; // stopping, and nothing left to write
    }
    writing_ = true;
    ++batchesTaken_;
    while (!queue_.empty() && batch.size() < kMaxReportsPerCommit) {
        batch.push_back(std::move(queue_.front()));
        queue_.pop_front();
    }
    return true;
}

void ReportWriter::WriteAndTell(Batch& batch) {
    std::vector<AddressReport> reports;
    reports.reserve(batch.size());
    for (auto& [report, done] : batch) {
        reports.push_back(std::move(report));
    }
    auto outcomes = engine_.WriteReports(reports);
    if (!outcomes) {
        std::cerr << "corvale-server: storage failure: " << outcomes.Failure().Message << '\n';
    }
    if (Metrics* metrics = metrics_.load()) {
        const auto written =
            outcomes ? std::count(outcomes->begin(), outcomes->end(), ReportOutcome::Recorded) : 0;
        metrics->CountBatch(batch.size(), static_cast<std::size_t>(written), !outcomes);
    }
    for (std::size_t i = 0; i < batch.size(); ++i) {
        batch[i].second(outcomes ? (*outcomes)[i] : ReportOutcome::Failed);
    }
}

} // namespace server
