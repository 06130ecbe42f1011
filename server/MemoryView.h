#pragma once
// What the hot requests read, held in memory beside the database: every account's login
// record and what every host's row holds of its last report. The storage engine tells it each
// committed change, in commit order, through OnCommitted alone: its own commits one by one, and
// another connection's as a whole new load; so the address check and a remembered login need no
// database read, and a report that would change nothing needs no write. Safe from any thread;
// lookups share a lock, changes take it alone.

#include "server/StorageEngine.h"

#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace server {

class MemoryView {
public:
    using Report = HostReport;

    std::optional<LoginRecord> FindLogin(std::string_view userId) const;
    // The address on record; empty when the host is unknown.
    std::string RecordedAddress(AccountKey account, std::string_view hostName) const;
    // Whether the host's row holds this very report already: address, time and version.
    bool Holds(AccountKey account, std::string_view hostName, std::string_view address,
               UnixTime reported, std::string_view clientVersion) const;

    // The one way in for changes: called by the engine after each commit, in commit order.
    void OnCommitted(StoredChange change);

private:
    void Apply(change::LoginSet& set);
    void Apply(change::AccountRemoved& removed);
    void Apply(change::ReportSet& set);
    void Apply(change::Reloaded& reloaded);
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
