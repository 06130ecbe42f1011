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
    const auto found = addresses_.find(key);
    return found == addresses_.end() ? std::string() : found->second;
}

void MemoryView::Replace(std::vector<LoginRecord> logins, std::vector<Host> hosts) {
    std::unordered_map<std::string, LoginRecord> newLogins;
    for (LoginRecord& login : logins) {
        std::string key = LoginKey(login.UserId);
        newLogins.emplace(std::move(key), std::move(login));
    }
    std::unordered_map<std::string, std::string> newAddresses;
    for (Host& host : hosts) {
        newAddresses.emplace(HostKey(host.Account, host.Name), std::move(host.Address));
    }
    std::unique_lock lock(mutex_);
    logins_.swap(newLogins);
    addresses_.swap(newAddresses);
}

void MemoryView::SetAddress(AccountKey account, std::string_view hostName,
                            std::string_view address) {
    std::string key = HostKey(account, hostName);
    std::unique_lock lock(mutex_);
    addresses_[std::move(key)] = std::string(address);
}

} // namespace server
