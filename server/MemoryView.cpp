#include "server/MemoryView.h"

#include "util/AsciiCase.h"

#include <mutex>
#include <variant>

namespace server {

namespace {

void AppendFolded(std::string& key, std::string_view text) {
    for (const char c : text) {
        key += AsciiLower(c);
    }
}

} // namespace

std::string MemoryView::LoginKey(std::string_view userId) {
    std::string key;
    key.reserve(userId.size());
    AppendFolded(key, userId);
    return key;
}

std::string MemoryView::HostKey(std::string_view hostName) {
    std::string key;
    key.reserve(hostName.size());
    AppendFolded(key, hostName);
    return key;
}

std::optional<LoginRecord> MemoryView::FindLogin(std::string_view userId) const {
    const std::string key = LoginKey(userId);
    std::shared_lock lock(mutex_);
    const auto found = logins_.find(key);
    if (found == logins_.end()) {
        return std::nullopt;
    }
    return found->second;
}

const MemoryView::Report* MemoryView::FindReport(AccountKey account,
                                                 const std::string& hostKey) const {
    const auto hosts = hosts_.find(account);
    if (hosts == hosts_.end()) {
        return nullptr;
    }
    const auto found = hosts->second.find(hostKey);
    return found == hosts->second.end() ? nullptr : &found->second;
}

std::string MemoryView::RecordedAddress(AccountKey account, std::string_view hostName) const {
    const std::string key = HostKey(hostName);
    std::shared_lock lock(mutex_);
    const Report* found = FindReport(account, key);
    return found ? found->Address : std::string();
}

bool MemoryView::Holds(AccountKey account, std::string_view hostName, std::string_view address,
                       UnixTime reported, std::string_view clientVersion) const {
    const std::string key = HostKey(hostName);
    std::shared_lock lock(mutex_);
    const Report* found = FindReport(account, key);
    return found && found->Address == address && found->Reported == reported &&
           found->ClientVersion == clientVersion;
}

void MemoryView::OnCommitted(StoredChange change) {
    std::visit([this](auto& what) { Apply(what); }, change);
}

void MemoryView::Apply(change::Reloaded& reloaded) {
    std::unordered_map<std::string, LoginRecord> newLogins;
    for (LoginRecord& login : reloaded.Logins) {
        std::string key = LoginKey(login.UserId);
        newLogins.emplace(std::move(key), std::move(login));
    }
    std::unordered_map<AccountKey, Hosts> newHosts;
    for (HostState& host : reloaded.Hosts) {
        newHosts[host.Account].emplace(HostKey(host.Name), std::move(host.Last));
    }
    std::unique_lock lock(mutex_);
    logins_.swap(newLogins);
    hosts_.swap(newHosts);
}

void MemoryView::Apply(change::ReportSet& set) {
    std::string key = HostKey(set.Host);
    std::unique_lock lock(mutex_);
    hosts_[set.Account][std::move(key)] = std::move(set.Last);
}

void MemoryView::Apply(change::LoginSet& set) {
    std::string key = LoginKey(set.Login.UserId);
    std::unique_lock lock(mutex_);
    logins_[std::move(key)] = std::move(set.Login);
}

void MemoryView::Apply(change::AccountRemoved& removed) {
    const std::string key = LoginKey(removed.UserId);
    std::unique_lock lock(mutex_);
    logins_.erase(key);
    hosts_.erase(removed.Account);
}

} // namespace server
