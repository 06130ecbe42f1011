#pragma once
// What the hot requests read, held in memory beside the database: every account's login
// record and what every host's row holds of its last report. Storage loads it when it opens,
// changes it after each of its own commits, in commit order, and loads it again whenever another
// connection changed the database; so the address check and a remembered login need no database
// read, and a report that would change nothing needs no write. Safe from any thread; lookups share
// a lock, changes take it alone.

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
    // A host's last report, as its row holds it.
    struct Report {
        std::string Address;
        std::optional<UnixTime> Reported;
        std::string ClientVersion;
    };
    struct Host {
        AccountKey Account = 0;
        std::string Name;
        Report Last;
    };

    std::optional<LoginRecord> FindLogin(std::string_view userId) const;
    // The address on record; empty when the host is unknown.
    std::string RecordedAddress(AccountKey account, std::string_view hostName) const;
    // Whether the host's row holds this very report already: address, time and version.
    bool Holds(AccountKey account, std::string_view hostName, std::string_view address,
               UnixTime reported, std::string_view clientVersion) const;

    void Replace(std::vector<LoginRecord> logins, std::vector<Host> hosts);
    void SetReport(AccountKey account, std::string_view hostName, Report report);
    // A new account, or one whose password changed.
    void SetLogin(LoginRecord login);
    // A deleted account: its login and all its hosts.
    void RemoveAccount(AccountKey account, std::string_view userId);

private:
    // User IDs and host names compare as the database compares them: ASCII case ignored.
    static std::string LoginKey(std::string_view userId);
    static std::string HostKey(std::string_view hostName);
    // With the lock held.
    const Report* FindReport(AccountKey account, const std::string& hostKey) const;

    mutable std::shared_mutex mutex_;
    std::unordered_map<std::string, LoginRecord> logins_;
    using Hosts = std::unordered_map<std::string, Report>; // by host key
    std::unordered_map<AccountKey, Hosts> hosts_;
};

} // namespace server
