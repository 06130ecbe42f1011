#pragma once
// The PostgreSQL engine: everything the service keeps, in a PostgreSQL database that several
// instances of the service may share. The first open creates the schema, and a later one
// brings an older schema up to date, in one transaction that other instances starting at the
// same time wait for. Requests share one connection under one lock; when it is lost, every
// call answers Unavailable until a new connection is made (tried again with a growing pause),
// and the memory view is then read afresh, since commits may have been missed meanwhile.
//
// Instances keep their memory views in step through the database's notifications: every
// commit that changes a login or a host's report names what it changed on one channel, and a
// thread of each instance, on a connection of its own, reads each named row afresh into its
// view (a full load after its connection was lost, once it is back).

#include "server/MemoryView.h"
#include "server/PgClient.h"
#include "server/StorageEngine.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace server {

class PgStorage final : public StorageEngine {
public:
    // Connects with `conninfo` (a postgresql:// URI or key=value pairs, with libpq's
    // environment and service file for what it leaves out) and brings the schema up to date;
    // Unavailable when it cannot, or when the database holds a newer schema.
    static Result<std::unique_ptr<PgStorage>> Open(const std::string& conninfo,
                                                   HashCost cost = InteractiveCost());
    // The same, throwing PgError when it cannot.
    explicit PgStorage(const std::string& conninfo, HashCost cost = InteractiveCost());
    ~PgStorage() override;
    PgStorage(const PgStorage&) = delete;
    PgStorage& operator=(const PgStorage&) = delete;

    // The schema version this build writes.
    static constexpr std::int64_t kSchemaVersion = 1;

    HashCost Cost() const override { return cost_; }

    Result<CreateResult> CreateAccount(std::string_view userId, std::string_view storedPassword,
                                       UnixTime now) override;
    Result<bool> SetPassword(std::string_view userId, std::string_view storedPassword) override;
    Result<bool> DeleteAccount(std::string_view userId) override;
    Result<std::optional<LoginRecord>> FindLogin(std::string_view userId) override;
    Result<std::optional<AccountKey>> FindAccount(std::string_view userId) override;
    Result<std::vector<AccountSummary>> ListAccounts() override;

    Result<std::string> RecordedAddress(AccountKey account, std::string_view hostName) override;
    Result<std::optional<HostNumber>> RecordAddress(AccountKey account, std::string_view hostName,
                                                    std::string_view address, UnixTime now,
                                                    std::string_view clientVersion) override;
    Result<std::vector<ReportOutcome>>
    WriteReports(const std::vector<AddressReport>& reports) override;
    Result<std::vector<HostRecord>> HostsOf(AccountKey account) override;
    Result<std::vector<HostRecord>> AllHosts() override;

    Result<OfferOutcome> OfferHosts(AccountKey owner, std::string_view buddyUserId,
                                    const std::vector<HostNumber>& hosts, UnixTime now) override;
    Result<std::vector<HostRecord>> HostsOfferedTo(AccountKey account) override;
    Result<std::int64_t> RemoveOffersBetween(AccountKey a, AccountKey b) override;

    Result<std::optional<std::string>> OfferedVersion() override;
    Result<void> SetOfferedVersion(std::optional<std::string> version) override;
    Result<std::optional<std::string>> Package() override;
    Result<std::shared_ptr<const std::string>> SharedPackage() override;
    Result<std::optional<std::int64_t>> PackageSize() override;
    Result<void> SetPackage(std::optional<std::string> bytes) override;
    Result<std::optional<std::string>> PackageSignature() override;
    Result<void> SetPackageSignature(std::optional<std::string> signature) override;

    Result<void> CheckWritable() override;

    const MemoryView& View() const override { return view_; }
    // Another instance's commit reaches the view only a moment later: the view is never sure
    // to be up to date, so that no report is skipped as one the row holds already.
    bool ViewMayBeBehind() override { return true; }

private:
    using Clock = std::chrono::steady_clock;

    // Runs `body` with the lock held and a connection up (made again first when it was lost);
    // a PgError it throws comes back as Unavailable.
    template <typename Body> auto Locked(Body body) -> Result<decltype(body())>;

    // With the lock held (or in the constructor, before any other thread), from here on.
    void Connect();
    void Migrate();
    void LoadView(PgConnection& connection);
    // Inside a transaction: tells every instance, at the commit, what changed.
    void Notify(const std::vector<std::string>& changes);

    // On the listening thread.
    void Listen();
    void ConnectListener();
    void Apply(const std::string& change); // with the lock held
    std::optional<HostNumber> WriteAddress(AccountKey account, std::string_view hostName,
                                           std::string_view address, UnixTime now,
                                           std::string_view clientVersion);
    std::optional<std::string> LockAccount(AccountKey account);
    std::vector<HostRecord> ReadHosts(const PgResult& rows);
    std::optional<std::string> Setting(std::string_view key);
    void SetSetting(std::string_view key, std::optional<std::string_view> value);

    std::string conninfo_;
    HashCost cost_;
    std::mutex mutex_;
    std::unique_ptr<PgConnection> db_; // none while the connection is lost
    Clock::time_point nextAttempt_{};  // when to try connecting again
    std::chrono::milliseconds pause_{0};
    MemoryView view_;
    std::shared_ptr<const std::string> package_; // as read, with the row version it was read at
    std::string packageVersion_;

    std::atomic<int> ownPid_{0}; // the server process of db_: its notifications are applied
    std::unique_ptr<PgConnection> listener_; // the listening thread's
    std::atomic<bool> stopping_{false};
    std::thread listening_; // last: stops before the rest goes
};

} // namespace server
