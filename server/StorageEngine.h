#pragma once
// What the reference service keeps, whatever database keeps it: accounts, their hosts with the
// last reported address, the hosts offered to buddies, and the offered client version and
// update package. An engine implements StorageEngine for one kind of database; the service
// reads and writes only through it. Every method is safe to call from any thread, and a
// database failure comes back as an error of kind Unavailable, with nothing changed.

#include "server/PasswordHash.h"
#include "server/Result.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
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

// A host's last report, as its row holds it.
struct HostReport {
    std::string Address;
    std::optional<UnixTime> Reported;
    std::string ClientVersion;
};
struct HostState {
    AccountKey Account = 0;
    std::string Name;
    HostReport Last;
};

// A committed change of what the memory view mirrors, as the engine tells it.
namespace change {
struct LoginSet { // a new account, or one whose password changed
    LoginRecord Login;
};
struct AccountRemoved { // with all its hosts
    AccountKey Account = 0;
    std::string UserId;
};
struct ReportSet {
    AccountKey Account = 0;
    std::string Host;
    HostReport Last;
};
struct Reloaded { // everything, as read afresh after another connection's commits
    std::vector<LoginRecord> Logins;
    std::vector<HostState> Hosts;
};
} // namespace change
using StoredChange =
    std::variant<change::LoginSet, change::AccountRemoved, change::ReportSet, change::Reloaded>;

class MemoryView;

class StorageEngine {
public:
    virtual ~StorageEngine() = default;

    // What hashing a password costs from now on.
    virtual HashCost Cost() const = 0;

    // --- accounts (user IDs compare without regard to ASCII case). Passwords are given in the
    // form the client sends ("stored form") and kept only as their hash.
    virtual Result<CreateResult> CreateAccount(std::string_view userId,
                                               std::string_view storedPassword, UnixTime now) = 0;
    // False when there is no such account.
    virtual Result<bool> SetPassword(std::string_view userId, std::string_view storedPassword) = 0;
    virtual Result<bool> DeleteAccount(std::string_view userId) = 0;
    virtual Result<std::optional<LoginRecord>> FindLogin(std::string_view userId) = 0;
    virtual Result<std::optional<AccountKey>> FindAccount(std::string_view userId) = 0;
    virtual Result<std::vector<AccountSummary>> ListAccounts() = 0;
    // The account whose user ID and stored password both match: a full hash check every
    // time (the service itself goes through its Authenticator, which remembers).
    Result<std::optional<AccountKey>> Authenticate(std::string_view userId,
                                                   std::string_view storedPassword);

    // --- hosts
    // The address on record for the account's host; empty when the host is unknown.
    virtual Result<std::string> RecordedAddress(AccountKey account, std::string_view hostName) = 0;
    // Records the address and time for the host, creating it with a new number on first sight;
    // none when the host is new and the account has kMaxHostsPerAccount hosts already.
    virtual Result<std::optional<HostNumber>> RecordAddress(AccountKey account,
                                                            std::string_view hostName,
                                                            std::string_view address, UnixTime now,
                                                            std::string_view clientVersion) = 0;
    // Writes the reports in one transaction, each only while its account still has the hash
    // its login was proven with; an outcome for each, in order. None of them when it fails.
    virtual Result<std::vector<ReportOutcome>>
    WriteReports(const std::vector<AddressReport>& reports) = 0;
    virtual Result<std::vector<HostRecord>> HostsOf(AccountKey account) = 0;
    virtual Result<std::vector<HostRecord>> AllHosts() = 0;

    // --- buddies
    // Lets `buddy` see the listed hosts of `owner`. All or nothing: every number must be one
    // of the owner's hosts. Hosts offered before stay offered.
    virtual Result<OfferOutcome> OfferHosts(AccountKey owner, std::string_view buddyUserId,
                                            const std::vector<HostNumber>& hosts, UnixTime now) = 0;
    // The hosts that other accounts offered to `account`, ordered by owner and host name.
    virtual Result<std::vector<HostRecord>> HostsOfferedTo(AccountKey account) = 0;
    // Removes every offer between the two accounts, in both directions; the number removed.
    virtual Result<std::int64_t> RemoveOffersBetween(AccountKey a, AccountKey b) = 0;

    // --- what the service offers for update
    virtual Result<std::optional<std::string>> OfferedVersion() = 0;
    virtual Result<void> SetOfferedVersion(std::optional<std::string> version) = 0;
    virtual Result<std::optional<std::string>> Package() = 0;
    // The same, read once and then shared by every download until it changes here or
    // elsewhere; none when no package is stored.
    virtual Result<std::shared_ptr<const std::string>> SharedPackage() = 0;
    virtual Result<std::optional<std::int64_t>> PackageSize() = 0;
    virtual Result<void> SetPackage(std::optional<std::string> bytes) = 0;

    // A real, cheap write that keeps nothing: whether the database accepts a write now.
    virtual Result<void> CheckWritable() = 0;

    // --- what the hot requests read from memory
    // The login records and addresses on record, in step with every commit.
    virtual const MemoryView& View() const = 0;
    // Whether a commit may have reached the database that the view does not show yet (one
    // made elsewhere); false only when the view is sure to be up to date.
    virtual bool ViewMayBeBehind() = 0;
};

} // namespace server
