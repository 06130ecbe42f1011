#include "server/MemoryView.h"

#include <mutex>

namespace server {

namespace {

void AppendFolded(std::string& key, std::string_view text) {
    for (const char c : text) {
        key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
}

} // namespace

std::string MemoryView::LoginKey(std::string_view userId) {
    std::string key;
    key.reserve(userId.size());
    AppendFolded(key, userId);
    return key;
}

std::string MemoryView::HostKey(AccountKey account, std::string_view hostName) {
    std::string key = std::to_string(account);
    key += '\0'; // a number never holds one, so the two parts cannot run into each other
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

std::string MemoryView::RecordedAddress(AccountKey account, std::string_view hostName) const {
    const std::string key = HostKey(account, hostName);
    std::shared_lock lock(mutex_);
    const auto found = hosts_.find(key);
    return found == hosts_.end() ? std::string() : found->second.Address;
}

bool MemoryView::Holds(AccountKey account, std::string_view hostName, const Report& report) const {
    const std::string key = HostKey(account, hostName);
    std::shared_lock lock(mutex_);
    const auto found = hosts_.find(key);
    return found != hosts_.end() && found->second.Address == report.Address &&
           found->second.Reported == report.Reported &&
           found->second.ClientVersion == report.ClientVersion;
}

void MemoryView::Replace(std::vector<LoginRecord> logins, std::vector<Host> hosts) {
    std::unordered_map<std::string, LoginRecord> newLogins;
    for (LoginRecord& login : logins) {
        std::string key = LoginKey(login.UserId);
        newLogins.emplace(std::move(key), std::move(login));
    }
    std::unordered_map<std::string, Report> newHosts;
    for (Host& host : hosts) {
        newHosts.emplace(HostKey(host.Account, host.Name), std::move(host.Last));
    }
    std::unique_lock lock(mutex_);
    logins_.swap(newLogins);
    hosts_.swap(newHosts);
}

void MemoryView::SetReport(AccountKey account, std::string_view hostName, Report report) {
    std::string key = HostKey(account, hostName);
    std::unique_lock lock(mutex_);
    hosts_[std::move(key)] = std::move(report);
}

} // namespace server
