#pragma once
// A recording stand-in for the main window: every window operation a task makes is logged in
// order with the thread that made it, message boxes get scripted answers and can be held
// open until the test lets them go, and tests wait for what they expect with a deadline.

#include "core/WindowOps.h"
#include "core/uTasksBuddies.h"
#include "tests/support/Wait.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

using namespace std::chrono_literals;

struct RecordedCall {
    std::thread::id thread;
    std::string text; // "Operation|argument|argument..."
};

// The window operations are written here, where they are declared: a new operation of the
// interface needs this one place of the fake.
class FakeWindow final : public IWindowOps {
public:
    void StopTimer() override {
        std::lock_guard lock(mutex_);
        timerEnabled_ = false;
        RecordLocked("StopTimer");
    }
    void RestartTimerIfActive() override {
        std::lock_guard lock(mutex_);
        timerEnabled_ = active_;
        RecordLocked("RestartTimerIfActive");
    }
    bool IsActiveChecked() override {
        std::lock_guard lock(mutex_);
        RecordLocked("IsActiveChecked");
        return active_;
    }
    // Waits while fewer rows than HoldHistoryRowsUntil asked for have been appended.
    void AppendHistoryRow(const std::string& address, const std::string& dateTime) override {
        std::unique_lock lock(mutex_);
        RecordLocked("AppendHistoryRow|" + address + "|" + dateTime);
        changed_.wait_for(lock, 10s, [this] {
            return CountPrefixLocked("AppendHistoryRow|") >= historyRowsToWaitFor_;
        });
    }
    void SetStatusText(TStatusBar bar, int panel, const std::string& text) override {
        std::lock_guard lock(mutex_);
        panels_[{static_cast<int>(bar), panel}] = text;
        RecordLocked("SetStatusText|" + BarName(bar) + "|" + std::to_string(panel) + "|" + text);
    }
    void SetTrayHint(const std::string& hint) override { Record("SetTrayHint|" + hint); }
    void SetCaption(const std::string& caption) override { Record("SetCaption|" + caption); }
    void BeginBuddyList() override {
        std::lock_guard lock(mutex_);
        buddyRows_.clear();
        RecordLocked("BeginBuddyList");
    }
    void AppendBuddyRow(const std::string& userId, const std::string& host,
                        const std::string& address, const std::string& dateTime) override {
        std::lock_guard lock(mutex_);
        buddyRows_.push_back({userId, host, address, dateTime});
        RecordLocked("AppendBuddyRow|" + userId + "|" + host + "|" + address + "|" + dateTime);
    }
    void EndBuddyList() override { Record("EndBuddyList"); }
    int BuddyRowCount() override {
        std::lock_guard lock(mutex_);
        RecordLocked("BuddyRowCount");
        return static_cast<int>(buddyRows_.size());
    }
    // Answers with the next queued answer, else as if dismissed; waits while messages are held.
    TMsgAnswer ShowMessage(const std::string& text, const std::string& caption,
                           TMsgButtons buttons) override {
        std::unique_lock lock(mutex_);
        RecordLocked("ShowMessage|" + caption + "|" + text + "|" +
                     (buttons == TMsgButtons::OK ? "OK" : "YesNo"));
        changed_.wait(lock, [this] { return !holdMessages_; });
        TMsgAnswer answer = DismissedAnswer(buttons);
        if (!answers_.empty()) {
            answer = answers_.front();
            answers_.pop_front();
        }
        RecordLocked("MessageAnswered|" + caption);
        return answer;
    }
    void OpenUrl(const std::string& url) override { Record("OpenUrl|" + url); }
    void PostQuitForUpdate() override { Record("PostQuitForUpdate"); }

    // Adds a line to the log as if it were a window operation (the clock seam logs its waits).
    void Record(const std::string& text);

    // Scripting.
    void SetActive(bool active) { active_ = active; }
    void QueueAnswer(TMsgAnswer answer);
    // Each history row waits (10 s at most) until `count` rows have been appended: overlapping
    // checks have then all compared their address before any of them stored it.
    void HoldHistoryRowsUntil(int count);
    // While held, every message box stays open until ReleaseMessages.
    void HoldMessages();
    void ReleaseMessages();

    // What happened.
    std::vector<std::string> Calls() const;
    std::vector<RecordedCall> Records() const;
    // The calls of the thread that made `firstCall` (its first occurrence), in order.
    std::vector<std::string> CallsOfThreadThatMade(const std::string& firstCall) const;
    int Count(const std::string& call) const;
    int CountPrefix(const std::string& prefix) const;
    bool TimerEnabled() const;
    std::string Panel(TStatusBar bar, int panel) const;
    std::vector<TBuddyRow> BuddyRows() const;

    // Waits until `condition` (checked under the fake's lock) holds; false on time-out.
    bool WaitUntil(const std::function<bool()>& condition,
                   std::chrono::milliseconds timeout = testing_support::kDefaultDeadline) const;
    bool WaitForCall(const std::string& call, int count = 1,
                     std::chrono::milliseconds timeout = testing_support::kDefaultDeadline) const;
    bool WaitForPrefix(const std::string& prefix, int count = 1,
                       std::chrono::milliseconds timeout = testing_support::kDefaultDeadline) const;

private:
    static std::string BarName(TStatusBar bar) { return bar == TStatusBar::SB1 ? "SB1" : "SB2"; }
    void RecordLocked(const std::string& text);
    int CountLocked(const std::string& call) const;
    int CountPrefixLocked(const std::string& prefix) const;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<RecordedCall> calls_;
    std::atomic<bool> active_{true};
    bool timerEnabled_ = false;
    std::map<std::pair<int, int>, std::string> panels_;
    std::vector<TBuddyRow> buddyRows_;
    std::deque<TMsgAnswer> answers_;
    bool holdMessages_ = false;
    int historyRowsToWaitFor_ = 0;
};

// The invite dialog as the host-list task sees it. Close() stands for the user closing the
// dialog: from then on the link drops every operation, as the shell's link does, and the
// dialog's state stays as it was.
class FakeInviteDialog final : public IInviteDialogLink {
public:
    void SetGettingHostList(bool value) override;
    void BeginHostList() override;
    void AppendHostRow(const std::string& caption, std::int32_t number) override;
    void EndHostList() override;

    void Close();
    // Closes the dialog right after it has carried out `call` (for example "BeginHostList",
    // so that the reply of the fetch arrives after the close).
    void CloseAfter(const std::string& call);
    struct HostRow {
        std::string caption;
        std::int32_t number;
        bool operator==(const HostRow&) const = default;
    };
    std::vector<std::string> Calls() const;
    std::vector<HostRow> Rows() const;
    bool GettingHostList() const;
    bool InBulkUpdate() const;
    int DroppedAfterClose() const;
    bool WaitForCall(const std::string& call,
                     std::chrono::milliseconds timeout = testing_support::kDefaultDeadline) const;

private:
    bool Accept(const std::string& call); // false once closed
    void Carried(const std::string& call);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool closed_ = false;
    std::string closeAfter_;
    bool getting_ = false;
    bool bulk_ = false;
    int droppedAfterClose_ = 0;
    std::vector<std::string> calls_;
    std::vector<HostRow> rows_;
};

// For conditions no fake can signal (files, threads).
using testing_support::WaitUntil;

} // namespace testing_support
