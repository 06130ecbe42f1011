#pragma once
// What the hot requests read, held in memory beside the database: every account's login
// record and every host's address on record. Storage loads it when it opens, changes it after
// each of its own commits, in commit order, and loads it again whenever another connection
// changed the database; so the address check and a remembered login need no database read.
// Safe from any thread; lookups share a lock, changes take it alone.

#include "server/Storage.h"

#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace server {

class MemoryView {
public:
    struct Host {
        AccountKey Account = 0;
        std::string Name;
        std::string Address;
    };

    std::optional<LoginRecord> FindLogin(std::string_view userId) const;
    // The address on record; empty when the host is unknown.
    std::string RecordedAddress(AccountKey account, std::string_view hostName) const;

    void Replace(std::vector<LoginRecord> logins, std::vector<Host> hosts);
    void SetAddress(AccountKey account, std::string_view hostName, std::string_view address);

private:
    // User IDs and host names compare as the database compares them: ASCII case ignored.
    static std::string LoginKey(std::string_view userId);
    static std::string HostKey(AccountKey account, std::string_view hostName);

    mutable std::shared_mutex mutex_;
    std::unordered_map<std::string, LoginRecord> logins_;
    std::unordered_map<std::string, std::string> addresses_;
};

} // namespace server
