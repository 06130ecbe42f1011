#include "tests/core/FakeWindow.h"

#include <algorithm>

namespace testing_support {

void FakeWindow::RecordLocked(const std::string& text) {
    calls_.push_back({std::this_thread::get_id(), text});
    changed_.notify_all();
}

void FakeWindow::Record(const std::string& text) {
    std::lock_guard lock(mutex_);
    RecordLocked(text);
}

void FakeWindow::HoldHistoryRowsUntil(int count) {
    std::lock_guard lock(mutex_);
    historyRowsToWaitFor_ = count;
}

void FakeWindow::QueueAnswer(TMsgAnswer answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(answer);
}

void FakeWindow::HoldMessages() {
    std::lock_guard lock(mutex_);
    holdMessages_ = true;
}

void FakeWindow::ReleaseMessages() {
    std::lock_guard lock(mutex_);
    holdMessages_ = false;
    changed_.notify_all();
}

std::vector<std::string> FakeWindow::Calls() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    for (const auto& call : calls_) {
        texts.push_back(call.text);
    }
    return texts;
}

std::vector<RecordedCall> FakeWindow::Records() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<std::string> FakeWindow::CallsOfThreadThatMade(const std::string& firstCall) const {
    std::lock_guard lock(mutex_);
    const auto first = std::find_if(calls_.begin(), calls_.end(),
                                    [&](const RecordedCall& c) { return c.text == firstCall; });
    std::vector<std::string> texts;
    if (first == calls_.end()) {
        return texts;
    }
    for (auto it = first; it != calls_.end(); ++it) {
        if (it->thread == first->thread) {
            texts.push_back(it->text);
        }
    }
    return texts;
}

int FakeWindow::CountLocked(const std::string& call) const {
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                          [&](const RecordedCall& c) { return c.text == call; }));
}

int FakeWindow::CountPrefixLocked(const std::string& prefix) const {
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(), [&](const RecordedCall& c) {
        return c.text.rfind(prefix, 0) == 0;
    }));
}

int FakeWindow::Count(const std::string& call) const {
    std::lock_guard lock(mutex_);
    return CountLocked(call);
}

int FakeWindow::CountPrefix(const std::string& prefix) const {
    std::lock_guard lock(mutex_);
    return CountPrefixLocked(prefix);
}

bool FakeWindow::TimerEnabled() const {
    std::lock_guard lock(mutex_);
    return timerEnabled_;
}

std::string FakeWindow::Panel(TStatusBar bar, int panel) const {
    std::lock_guard lock(mutex_);
    const auto found = panels_.find({static_cast<int>(bar), panel});
    return found == panels_.end() ? std::string() : found->second;
}

std::vector<TBuddyRow> FakeWindow::BuddyRows() const {
    std::lock_guard lock(mutex_);
    return buddyRows_;
}

bool FakeWindow::WaitUntil(const std::function<bool()>& condition,
                           std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return testing_support::WaitUntil(changed_, lock, condition, timeout);
}

bool FakeWindow::WaitForCall(const std::string& call, int count,
                             std::chrono::milliseconds timeout) const {
    return WaitUntil([&] { return CountLocked(call) >= count; }, timeout);
}

bool FakeWindow::WaitForPrefix(const std::string& prefix, int count,
                               std::chrono::milliseconds timeout) const {
    return WaitUntil([&] { return CountPrefixLocked(prefix) >= count; }, timeout);
}

// ---- FakeInviteDialog ----------------------------------------------------------------------

bool FakeInviteDialog::Accept(const std::string& call) {
    calls_.push_back(closed_ ? "dropped:" + call : call);
    changed_.notify_all();
    if (closed_) {
        ++droppedAfterClose_;
        return false;
    }
    return true;
}

void FakeInviteDialog::Carried(const std::string& call) {
    if (call == closeAfter_) {
        closed_ = true;
    }
}

void FakeInviteDialog::SetGettingHostList(bool value) {
    std::lock_guard lock(mutex_);
    const std::string call = value ? "SetGettingHostList|1" : "SetGettingHostList|0";
    if (Accept(call)) {
        getting_ = value;
        Carried(call);
    }
}

void FakeInviteDialog::BeginHostList() {
    std::lock_guard lock(mutex_);
    if (Accept("BeginHostList")) {
        bulk_ = true;
        rows_.clear();
        Carried("BeginHostList");
    }
}

void FakeInviteDialog::AppendHostRow(const std::string& caption, std::int32_t number) {
    std::lock_guard lock(mutex_);
    const std::string call = "AppendHostRow|" + caption + "|" + std::to_string(number);
    if (Accept(call)) {
        rows_.push_back({caption, number});
        Carried(call);
    }
}

void FakeInviteDialog::EndHostList() {
    std::lock_guard lock(mutex_);
    if (Accept("EndHostList")) {
        bulk_ = false;
        Carried("EndHostList");
    }
}

void FakeInviteDialog::Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
}

void FakeInviteDialog::CloseAfter(const std::string& call) {
    std::lock_guard lock(mutex_);
    closeAfter_ = call;
}

std::vector<std::string> FakeInviteDialog::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<FakeInviteDialog::HostRow> FakeInviteDialog::Rows() const {
    std::lock_guard lock(mutex_);
    return rows_;
}

bool FakeInviteDialog::GettingHostList() const {
    std::lock_guard lock(mutex_);
    return getting_;
}

bool FakeInviteDialog::InBulkUpdate() const {
    std::lock_guard lock(mutex_);
    return bulk_;
}

int FakeInviteDialog::DroppedAfterClose() const {
    std::lock_guard lock(mutex_);
    return droppedAfterClose_;
}

bool FakeInviteDialog::WaitForCall(const std::string& call,
                                   std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return testing_support::WaitUntil(
        changed_, lock,
        [&] { return std::find(calls_.begin(), calls_.end(), call) != calls_.end(); }, timeout);
}

} // namespace testing_support
