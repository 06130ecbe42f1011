#pragma once
// The logins the service has verified lately, so that a client's steady stream of requests
// does not pay a full password hash check each. An entry is found by a keyed hash of the user
// ID and the presented password (the key is random per process, so the table gives nothing
// away), and it counts only while the account still has the password hash it was checked
// against: a password changed or an account deleted, by this process or by another, ends it.

#include "server/StorageEngine.h"

#include <array>
#include <cstddef>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace server {

class CredentialCache {
public:
    explicit CredentialCache(std::size_t capacity);

    // The account, when this login was verified against the hash the record holds now.
    std::optional<AccountKey> Find(const LoginRecord& record, std::string_view password);
    // Only ever called after a successful full check.
    void Remember(const LoginRecord& record, std::string_view password);

    std::size_t Size();

private:
    using Digest = std::array<unsigned char, 32>;
    struct DigestHash {
        std::size_t operator()(const Digest& digest) const;
    };
    struct Entry {
        Digest Key;
        Digest HashOfStoredHash;
        AccountKey Account;
    };

    Digest KeyOf(const LoginRecord& record, std::string_view password) const;

    std::size_t capacity_;
    std::array<unsigned char, 32> secret_;
    std::mutex mutex_;
    std::list<Entry> recent_; // most recently used first
    std::unordered_map<Digest, std::list<Entry>::iterator, DigestHash> index_;
};

} // namespace server
