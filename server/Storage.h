#pragma once
// Everything the reference service keeps, in one SQLite file: accounts, their hosts with the
// last reported address, the hosts offered to buddies, and the offered client version and
// update package. Every method is safe to call from any thread.

#include "server/PasswordHash.h"
#include "server/Sqlite.h"
#include "server/WalWatch.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace server {

using AccountKey = std::int64_t;
using HostNumber = std::int64_t;
using UnixTime = std::int64_t; // seconds since 1970-01-01 UTC

inline constexpr std::int64_t kMaxHostsPerAccount = 256;

struct AccountSummary {
    std::string UserId;
    UnixTime Created = 0;
    std::int64_t HostCount = 0;
};

struct HostRecord {
    HostNumber Number = 0;
    std::string Owner; // the user ID of the account the host belongs to
    std::string Name;
    std::string Address;              // empty until the first report
    std::optional<UnixTime> Reported; // time of the last report
    std::string ClientVersion;        // as the client sent it with its last report
};

// What a login is checked against: the account and the hash of its stored password.
struct LoginRecord {
    AccountKey Account = 0;
    std::string UserId; // as spelt when the account was created
    std::string PasswordHash;
};

enum class CreateResult { Created, AlreadyExists };

enum class OfferResult { Recorded, UnknownBuddy, SelfOffer, ForeignHost };
struct OfferOutcome {
    OfferResult Result = OfferResult::Recorded;
    HostNumber ForeignHost = 0; // the first number that is not the owner's, for ForeignHost
};

class MemoryView;

// An address report whose login was checked from memory: it is written only while the account
// still has the password hash the login was proven against.
struct AddressReport {
    AccountKey Account = 0;
    std::string ProvenHash;
    std::string Host;
    std::string Address;
    UnixTime Now = 0;
    std::string ClientVersion;
};
enum class ReportOutcome {
    Recorded,
    TooManyHosts,
    LoginChanged, // the password or the account changed since the login was proven
    Failed        // the database failed; nothing of the report was kept
};
// Told once the report's transaction is over, on the writing thread.
using ReportDone = std::function<void(ReportOutcome)>;

class Storage {
public:
    // Opens or creates the database file and brings its schema up to date. A database that
    // still keeps passwords as they came has them replaced by their hashes, in one go.
    // `cost` is what hashing a password costs from now on.
    explicit Storage(const std::string& path, HashCost cost = InteractiveCost());
    ~Storage();
    Storage(const Storage&) = delete;
    Storage& operator=(const Storage&) = delete;

    const std::string& Path() const { return path_; }
    HashCost Cost() const { return cost_; }

    // --- accounts (user IDs compare without regard to ASCII case). Passwords are given in the
    // form the client sends ("stored form") and kept only as their hash.
    CreateResult CreateAccount(std::string_view userId, std::string_view storedPassword,
                               UnixTime now);
    // False when there is no such account.
    bool SetPassword(std::string_view userId, std::string_view storedPassword);
    bool DeleteAccount(std::string_view userId);
    // The account whose user ID and stored password both match: a full hash check every
    // time (the service itself goes through its Authenticator, which remembers).
    std::optional<AccountKey> Authenticate(std::string_view userId,
                                           std::string_view storedPassword);
    std::optional<LoginRecord> FindLogin(std::string_view userId);
    std::optional<AccountKey> FindAccount(std::string_view userId);
    // The user ID as it was spelt when the account was created.
    std::string UserIdOf(AccountKey account);
    std::vector<AccountSummary> ListAccounts();

    // --- hosts
    // The address on record for the account's host; empty when the host is unknown.
    std::string RecordedAddress(AccountKey account, std::string_view hostName);
    // Records the address and time for the host, creating it with a new number on first sight;
    // none when the host is new and the account has kMaxHostsPerAccount hosts already.
    std::optional<HostNumber> RecordAddress(AccountKey account, std::string_view hostName,
                                            std::string_view address, UnixTime now,
                                            std::string_view clientVersion);
    std::vector<HostRecord> HostsOf(AccountKey account);
    // Queues the report for the writing thread, which writes the reports that come in at
    // about the same time in one transaction and tells each one after its commit.
    void QueueReport(AddressReport report, ReportDone done);
    // Whether the host's row holds this very report already (same address, time and client
    // version), with no report waiting and nothing written by anyone since the view was last
    // checked: then writing it would change nothing, and the login it was proven with holds.
    bool AlreadyRecorded(const AddressReport& report);
    // Returns once every report queued so far has been written and told.
    void WaitForQueuedReports();
    // The login records and addresses on record, in step with the database.
    const MemoryView& View() const { return *view_; }
    std::vector<HostRecord> AllHosts();

    // --- buddies
    // Lets `buddy` see the listed hosts of `owner`. All or nothing: every number must be one
    // of the owner's hosts. Hosts offered before stay offered.
    OfferOutcome OfferHosts(AccountKey owner, std::string_view buddyUserId,
                            const std::vector<HostNumber>& hosts, UnixTime now);
    // The hosts that other accounts offered to `account`, ordered by owner and host name.
    std::vector<HostRecord> HostsOfferedTo(AccountKey account);
    // Removes every offer between the two accounts, in both directions; the number removed.
    std::int64_t RemoveOffersBetween(AccountKey a, AccountKey b);

    // --- what the service offers for update
    std::optional<std::string> OfferedVersion();
    void SetOfferedVersion(std::optional<std::string> version);
    std::optional<std::string> Package();
    // The same, read once and then shared by every download until it changes here or
    // elsewhere; none when no package is stored.
    std::shared_ptr<const std::string> SharedPackage();
    std::optional<std::int64_t> PackageSize();
    void SetPackage(std::optional<std::string> bytes);

private:
    std::optional<std::string> Setting(std::string_view key);
    void SetSetting(std::string_view key, std::optional<std::string_view> value);
    std::vector<HostRecord> ReadHosts(Statement& statement);
    void Migrate();
    void HashKeptPasswords();
    void CheckpointLoop();
    std::optional<HostNumber> RecordAddressLocked(AccountKey account, std::string_view hostName,
                                                  std::string_view address, UnixTime now,
                                                  std::string_view clientVersion);
    void LoadView();
    void LoadViewIfChangedElsewhere();
    void WriteLoop();
    bool StillHasHash(AccountKey account, const std::string& hash);
    void WriteBatch(std::deque<std::pair<AddressReport, ReportDone>>& batch,
                    std::vector<ReportOutcome>& outcomes);

    std::string path_;
    HashCost cost_;
    std::mutex mutex_;
    Database db_;
    std::unique_ptr<MemoryView> view_;
    std::unique_ptr<WalWatch> walWatch_; // whether another connection may have changed the view
    std::int64_t dataVersion_ = -1;      // the database's change count when the view was loaded
    std::shared_ptr<const std::string> package_; // read when first asked for since a change
    bool packageRead_ = false;

    // Copying the write-ahead log back into the database syncs the disk; it runs on a thread
    // and connection of its own so that no request waits behind it.
    std::mutex checkpointMutex_;
    std::condition_variable checkpointWake_;
    bool stopping_ = false;
    std::thread checkpointer_;

    std::mutex queueMutex_;
    std::condition_variable queueWake_;
    std::deque<std::pair<AddressReport, ReportDone>> queue_;
    bool writerStopping_ = false;
    bool writing_ = false; // a batch taken from the queue is being written or told
    std::condition_variable queueIdle_;
    std::thread writer_;
};

} // namespace server
