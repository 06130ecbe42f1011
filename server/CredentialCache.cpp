#include "server/CredentialCache.h"

#include <cstring>
#include <sodium.h>
#include <stdexcept>

namespace server {

namespace {

std::array<unsigned char, 32> HashOf(std::string_view text) {
    std::array<unsigned char, 32> digest{};
    crypto_generichash(digest.data(), digest.size(),
                       reinterpret_cast<const unsigned char*>(text.data()), text.size(), nullptr,
                       0);
    return digest;
}

} // namespace

std::size_t CredentialCache::DigestHash::operator()(const Digest& digest) const {
    std::size_t value = 0;
    std::memcpy(&value, digest.data(), sizeof value); // the digest is uniformly random already
    return value;
}

CredentialCache::CredentialCache(std::size_t capacity) : capacity_(capacity) {
    if (sodium_init() < 0) {
        throw std::runtime_error("the cryptography library could not start");
    }
    randombytes_buf(secret_.data(), secret_.size());
}

CredentialCache::Digest CredentialCache::KeyOf(const LoginRecord& record,
                                               std::string_view password) const {
    // The account's own spelling of the user ID: "JDoe" and "jdoe" are one login.
    crypto_auth_hmacsha256_state state;
    crypto_auth_hmacsha256_init(&state, secret_.data(), secret_.size());
    const std::string account = std::to_string(record.Account) + '\0';
    crypto_auth_hmacsha256_update(&state, reinterpret_cast<const unsigned char*>(account.data()),
                                  account.size());
    crypto_auth_hmacsha256_update(
        &state, reinterpret_cast<const unsigned char*>(record.UserId.data()), record.UserId.size());
    const unsigned char separator = 0;
    crypto_auth_hmacsha256_update(&state, &separator, 1);
    crypto_auth_hmacsha256_update(&state, reinterpret_cast<const unsigned char*>(password.data()),
                                  password.size());
    Digest key{};
    crypto_auth_hmacsha256_final(&state, key.data());
    return key;
}

std::optional<AccountKey> CredentialCache::Find(const LoginRecord& record,
                                                std::string_view password) {
    const Digest key = KeyOf(record, password);
    const Digest stored = HashOf(record.PasswordHash);
    std::lock_guard lock(mutex_);
    const auto found = index_.find(key);
    if (found == index_.end()) {
        return std::nullopt;
    }
    const auto entry = found->second;
    if (entry->HashOfStoredHash != stored || entry->Account != record.Account) {
        index_.erase(found); // the password changed since: this login is no longer proven
        recent_.erase(entry);
        return std::nullopt;
    }
    recent_.splice(recent_.begin(), recent_, entry);
    return entry->Account;
}

void CredentialCache::Remember(const LoginRecord& record, std::string_view password) {
    if (capacity_ == 0) {
        return;
    }
    const Digest key = KeyOf(record, password);
    Entry entry{key, HashOf(record.PasswordHash), record.Account};
    std::lock_guard lock(mutex_);
    if (const auto found = index_.find(key); found != index_.end()) {
        *found->second = entry;
        recent_.splice(recent_.begin(), recent_, found->second);
        return;
    }
    if (recent_.size() >= capacity_) {
        index_.erase(recent_.back().Key);
        recent_.pop_back();
    }
    recent_.push_front(entry);
    index_.emplace(key, recent_.begin());
}

std::size_t CredentialCache::Size() {
    std::lock_guard lock(mutex_);
    return recent_.size();
}

} // namespace server
