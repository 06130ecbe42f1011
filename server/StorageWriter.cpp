// The writing thread of Storage: address reports whose logins were proven from memory. The
// reports that arrive while a transaction runs are written together in the next one (one
// commit for many), and each is told only after the commit that holds it.

#include "server/MemoryView.h"
#include "server/Storage.h"

#include <iostream>

namespace server {

namespace {
// Reports written in one transaction at most; more wait for the next one.
constexpr std::size_t kMaxReportsPerCommit = 256;
} // namespace

void Storage::QueueReport(AddressReport report, ReportDone done) {
    {
        std::lock_guard lock(queueMutex_);
        queue_.emplace_back(std::move(report), std::move(done));
    }
    queueWake_.notify_one();
}

bool Storage::AlreadyRecorded(const AddressReport& report) {
    std::lock_guard lock(queueMutex_);
    // The view is trusted only when nothing can have changed the row behind it: no report is
    // waiting or being written (it may be for the same host, and a later one must not overtake
    // it; the view shows every commit before the writer reports itself idle), and nothing has
    // been written to the log since the view was checked (another connection's changed
    // password or deleted account would make its login and row stale).
    return queue_.empty() && !writing_ && !walWatch_->MayHaveChanged() &&
           view_->Holds(report.Account, report.Host, report.Address, report.Now,
                        report.ClientVersion);
}

void Storage::WaitForQueuedReports() {
    std::unique_lock lock(queueMutex_);
    queueIdle_.wait(lock, [this] { return (queue_.empty() && !writing_) || writerStopping_; });
}

void Storage::WriteLoop() {
    std::deque<std::pair<AddressReport, ReportDone>> batch;
    std::vector<ReportOutcome> outcomes;
    for (;;) {
        {
            std::unique_lock lock(queueMutex_);
            writing_ = false;
            if (queue_.empty()) {
                queueIdle_.notify_all();
            }
            queueWake_.wait(lock, [this] { return writerStopping_ || !queue_.empty(); });
            if (queue_.empty()) {
                return; // stopping, and nothing left to write
            }
            writing_ = true;
            while (!queue_.empty() && batch.size() < kMaxReportsPerCommit) {
                batch.push_back(std::move(queue_.front()));
                queue_.pop_front();
            }
        }
        WriteBatch(batch, outcomes);
        for (std::size_t i = 0; i < batch.size(); ++i) {
            batch[i].second(outcomes[i]);
        }
        batch.clear();
    }
}

bool Storage::StillHasHash(AccountKey account, const std::string& hash) {
    Statement query = db_.Prepare("SELECT password FROM accounts WHERE id = ?1");
    query.Bind(1, account);
    return query.Step() && query.Text(0) == hash;
}

void Storage::WriteBatch(std::deque<std::pair<AddressReport, ReportDone>>& batch,
                         std::vector<ReportOutcome>& outcomes) {
    outcomes.assign(batch.size(), ReportOutcome::Failed);
    try {
        std::lock_guard lock(mutex_);
        Transaction transaction(db_);
        // Another process may have changed a password: the view must show it before the
        // reports are checked against it.
        LoadViewIfChangedElsewhere();
        for (std::size_t i = 0; i < batch.size(); ++i) {
            const AddressReport& report = batch[i].first;
            if (!StillHasHash(report.Account, report.ProvenHash)) {
                outcomes[i] = ReportOutcome::LoginChanged;
                continue;
            }
            const auto number = RecordAddressLocked(report.Account, report.Host, report.Address,
                                                    report.Now, report.ClientVersion);
            outcomes[i] = number ? ReportOutcome::Recorded : ReportOutcome::TooManyHosts;
        }
        transaction.Commit();
        for (std::size_t i = 0; i < batch.size(); ++i) {
            if (outcomes[i] == ReportOutcome::Recorded) {
                const AddressReport& report = batch[i].first;
                view_->SetReport(report.Account, report.Host,
                                 {report.Address, report.Now, report.ClientVersion});
            }
        }
    } catch (const StorageError& error) {
        std::cerr << "corvale-server: storage failure: " << error.what() << '\n';
        outcomes.assign(batch.size(), ReportOutcome::Failed);
    }
}

} // namespace server
