#include "server/ConnectionTable.h"

#include <vector>

namespace server {

namespace {
constexpr std::size_t kMaxRefusalsAtOnce = 256;
}

ConnectionTable::Ticket::Ticket(Ticket&& other) noexcept : table_(other.table_), id_(other.id_) {
    other.table_ = nullptr;
}

ConnectionTable::Ticket& ConnectionTable::Ticket::operator=(Ticket&& other) noexcept {
    if (this != &other) {
        if (table_) {
            table_->Release(id_);
        }
        table_ = other.table_;
        id_ = other.id_;
        other.table_ = nullptr;
    }
    return *this;
}

ConnectionTable::Ticket::~Ticket() {
    if (table_) {
        table_->Release(id_);
    }
}

void ConnectionTable::Ticket::Attach(std::weak_ptr<SessionControl> session) {
    if (table_) {
        table_->Attach(id_, std::move(session));
    }
}

ConnectionTable::ConnectionTable(std::size_t maxInAll, std::size_t maxPerAddress)
    : maxInAll_(maxInAll), maxPerAddress_(maxPerAddress) {}

std::optional<ConnectionTable::Ticket> ConnectionTable::Admit(const std::string& address,
                                                              Admission& why) {
    std::lock_guard lock(mutex_);
    if (entries_.size() - refusals_ >= maxInAll_) {
        why = Admission::TooManyInAll;
        return std::nullopt;
    }
    std::size_t& fromAddress = perAddress_[address];
    if (fromAddress >= maxPerAddress_) {
        why = Admission::TooManyFromAddress;
        return std::nullopt;
    }
    ++fromAddress;
    const std::uint64_t id = nextId_++;
    entries_.emplace(id, Entry{address, {}});
    why = Admission::Admitted;
    return Ticket(this, id);
}

std::optional<ConnectionTable::Ticket> ConnectionTable::AdmitRefusal() {
    std::lock_guard lock(mutex_);
    if (refusals_ >= kMaxRefusalsAtOnce) {
        return std::nullopt;
    }
    ++refusals_;
    const std::uint64_t id = nextId_++;
    entries_.emplace(id, Entry{});
    return Ticket(this, id);
}

void ConnectionTable::Attach(std::uint64_t id, std::weak_ptr<SessionControl> session) {
    std::lock_guard lock(mutex_);
    if (const auto found = entries_.find(id); found != entries_.end()) {
        found->second.Session = std::move(session);
    }
}

void ConnectionTable::Release(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    const auto found = entries_.find(id);
    if (found == entries_.end()) {
        return;
    }
    if (found->second.Address.empty()) {
        --refusals_;
    } else if (const auto count = perAddress_.find(found->second.Address);
               count != perAddress_.end() && --count->second == 0) {
        perAddress_.erase(count);
    }
    entries_.erase(found);
}

std::vector<std::shared_ptr<SessionControl>> ConnectionTable::LiveSessions() {
    std::vector<std::shared_ptr<SessionControl>> live;
    std::lock_guard lock(mutex_);
    live.reserve(entries_.size());
    for (auto& [id, entry] : entries_) {
        if (auto session = entry.Session.lock()) {
            live.push_back(std::move(session));
        }
    }
    return live;
}

// Both act outside the lock: a session may give its ticket back meanwhile.
void ConnectionTable::AbortAll() {
    for (const auto& session : LiveSessions()) {
        session->Abort();
    }
}

void ConnectionTable::ExpireOverdue(SessionControl::Clock::time_point now) {
    for (const auto& session : LiveSessions()) {
        if (session->Overdue(now)) {
            session->Expire();
        }
    }
}

std::size_t ConnectionTable::Count() {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

} // namespace server
