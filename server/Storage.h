#pragma once
// The SQLite engine: everything the service keeps, in one SQLite file in write-ahead mode.
// Opening brings an older schema up to date (a database that still keeps passwords as they
// came has them replaced by their hashes, in one go). Requests share one connection under one
// lock; the checkpointer copies the log back on a connection of its own, and the memory view
// hears of every commit, including those of other processes found through the log's watch.

#include "server/Checkpointer.h"
#include "server/MemoryView.h"
#include "server/Sqlite.h"
#include "server/StorageEngine.h"
#include "server/WalWatch.h"

#include <memory>
#include <mutex>
#include <string>

namespace server {

class Storage final : public StorageEngine {
public:
    // Opens or creates the database file; Unavailable when it cannot, or when the file is no
    // database of this service. `cost` is what hashing a password costs from now on.
    static Result<std::unique_ptr<Storage>> Open(const std::string& path,
                                                 HashCost cost = InteractiveCost());
    // The same, throwing StorageError when it cannot.
    explicit Storage(const std::string& path, HashCost cost = InteractiveCost());
    ~Storage() override;
    Storage(const Storage&) = delete;
    Storage& operator=(const Storage&) = delete;

    const std::string& Path() const { return path_; }
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
    Result<void> CheckWritable() override;

    const MemoryView& View() const override { return view_; }
    bool ViewMayBeBehind() override { return walWatch_->MayHaveChanged(); }

private:
    // Runs `body` with the lock held; a StorageError it throws comes back as Unavailable.
    template <typename Body> auto Locked(Body body) -> Result<decltype(body())>;

    // With the lock held (or in the constructor, before any other thread), from here on.
    void Migrate();
    void HashKeptPasswords();
    void LoadView();
    void LoadViewIfChangedElsewhere();
    void CatchUp(); // on the checkpointer's thread
    std::optional<HostNumber> WriteAddress(AccountKey account, std::string_view hostName,
                                           std::string_view address, UnixTime now,
                                           std::string_view clientVersion);
    bool StillHasHash(AccountKey account, const std::string& hash);
    std::vector<HostRecord> ReadHosts(Statement& statement);
    std::optional<std::string> Setting(std::string_view key);
    void SetSetting(std::string_view key, std::optional<std::string_view> value);
    void Committed(StoredChange change);

    std::string path_;
    HashCost cost_;
    std::mutex mutex_;
    Database db_;
    MemoryView view_;
    std::unique_ptr<WalWatch> walWatch_; // whether another connection may have changed the view
    std::int64_t dataVersion_ = -1;      // the database's change count when the view was loaded
    std::shared_ptr<const std::string> package_; // read when first asked for since a change
    bool packageRead_ = false;
    std::unique_ptr<Checkpointer> checkpointer_; // last: stops before the rest goes
};

} // namespace server
