#include "server/Storage.h"

#include <iostream>
#include <memory>
#include <type_traits>

namespace server {

namespace {

// 1: passwords kept as the client sends them; 2: only their hashes.
constexpr std::int64_t kSchemaVersion = 2;

constexpr const char* kSchema = R"sql(
CREATE TABLE accounts(
    id INTEGER PRIMARY KEY,
    user_id TEXT NOT NULL UNIQUE COLLATE NOCASE,
    password TEXT NOT NULL,
    created INTEGER NOT NULL);
CREATE TABLE hosts(
    number INTEGER PRIMARY KEY AUTOINCREMENT,
    account INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
    name TEXT NOT NULL COLLATE NOCASE,
    address TEXT NOT NULL DEFAULT '',
    reported INTEGER,
    client_version TEXT NOT NULL DEFAULT '',
    UNIQUE(account, name));
CREATE TABLE offers(
    host INTEGER NOT NULL REFERENCES hosts(number) ON DELETE CASCADE,
    buddy INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
    offered INTEGER NOT NULL,
    PRIMARY KEY(host, buddy)) WITHOUT ROWID;
CREATE INDEX offers_by_buddy ON offers(buddy);
CREATE TABLE settings(
    key TEXT PRIMARY KEY,
    value BLOB NOT NULL) WITHOUT ROWID;
PRAGMA user_version = 2;
)sql";

constexpr const char* kHostColumns =
    "h.number, a.user_id, h.name, h.address, h.reported, h.client_version";

constexpr std::string_view kOfferedVersionKey = "offered_version";
constexpr std::string_view kPackageKey = "package";
constexpr std::string_view kPackageSignatureKey = "package_signature";
// Written and removed again in one commit by the write check; never kept.
constexpr std::string_view kWriteCheckKey = "write_check";

} // namespace

Result<std::unique_ptr<Storage>> Storage::Open(const std::string& path, HashCost cost) {
    try {
        return std::make_unique<Storage>(path, cost);
    } catch (const StorageError& error) {
        return Unavailable(error.what());
    }
}

Storage::Storage(const std::string& path, HashCost cost) : path_(path), cost_(cost), db_(path) {
    db_.Execute("PRAGMA busy_timeout = 5000");
    db_.Execute("PRAGMA journal_mode = WAL");
    // Every commit reaches the disk before its reports are answered "OK", so an acknowledged
    // report survives a power cut too, not only the end of the process; the group commit keeps
    // that to one flush per batch.
    db_.Execute("PRAGMA synchronous = FULL");
    db_.Execute("PRAGMA foreign_keys = ON");
    db_.Execute("PRAGMA wal_autocheckpoint = 0");
    Migrate();
    LoadView();
    // The log exists once the database has been read in its write-ahead mode.
    walWatch_ = std::make_unique<WalWatch>(path_ + "-wal");
    checkpointer_ = std::make_unique<Checkpointer>(path_, [this] { CatchUp(); });
}

Storage::~Storage() = default;

template <typename Body> auto Storage::Locked(Body body) -> Result<decltype(body())> {
    try {
        std::lock_guard lock(mutex_);
        if constexpr (std::is_void_v<decltype(body())>) {
            body();
            return {};
        } else {
            return body();
        }
    } catch (const StorageError& error) {
        return Unavailable(error.what());
    }
}

void Storage::Committed(StoredChange change) {
    view_.OnCommitted(std::move(change));
}

void Storage::LoadView() {
    change::Reloaded all;
    {
        Statement query = db_.Prepare("SELECT id, user_id, password FROM accounts");
        while (query.Step()) {
            all.Logins.push_back({query.Int(0), query.Text(1), query.Text(2)});
        }
    }
    {
        Statement query =
            db_.Prepare("SELECT account, name, address, reported, client_version FROM hosts");
        while (query.Step()) {
            HostReport last{query.Text(2), std::nullopt, query.Text(4)};
            if (!query.IsNull(3)) {
                last.Reported = query.Int(3);
            }
            all.Hosts.push_back({query.Int(0), query.Text(1), std::move(last)});
        }
    }
    Statement version = db_.Prepare("PRAGMA data_version");
    dataVersion_ = version.Step() ? version.Int(0) : -1;
    package_.reset();
    packageRead_ = false;
    Committed(std::move(all));
}

// The change count moves only for commits made through other connections.
void Storage::LoadViewIfChangedElsewhere() {
    walWatch_->BeginCheck();
    std::int64_t now = -1;
    {
        Statement version = db_.Prepare("PRAGMA data_version");
        now = version.Step() ? version.Int(0) : -1;
    }
    if (now != dataVersion_) {
        LoadView();
    }
    walWatch_->EndCheck();
}

void Storage::CatchUp() {
    const auto caughtUp = Locked([this] { LoadViewIfChangedElsewhere(); });
    if (!caughtUp) {
        std::cerr << "corvale-server: reading changes failed: " << caughtUp.Failure().Message
                  << '\n';
    }
}

void Storage::Migrate() {
    Transaction transaction(db_);
    std::int64_t version = 0;
    {
        Statement query = db_.Prepare("PRAGMA user_version");
        if (query.Step()) {
            version = query.Int(0);
        }
    }
    if (version > kSchemaVersion) {
        throw StorageError(path_ + " was written by a newer version of the service");
    }
    if (version == 0) {
        db_.Execute(kSchema);
    } else if (version == 1) {
        HashKeptPasswords();
        db_.Execute("PRAGMA user_version = 2");
    }
    transaction.Commit();
}

// Inside the migration's transaction: either every password is replaced or none is.
void Storage::HashKeptPasswords() {
    std::vector<std::pair<AccountKey, std::string>> kept;
    {
        Statement query = db_.Prepare("SELECT id, password FROM accounts");
        while (query.Step()) {
            kept.emplace_back(query.Int(0), query.Text(1));
        }
    }
    for (const auto& [account, password] : kept) {
        if (IsPasswordHash(password)) {
            continue;
        }
        db_.Prepare("UPDATE accounts SET password = ?2 WHERE id = ?1")
            .Bind(1, account)
            .Bind(2, HashPassword(password, cost_))
            .Run();
    }
}

Result<CreateResult> Storage::CreateAccount(std::string_view userId,
                                            std::string_view storedPassword, UnixTime now) {
    const std::string hash = HashPassword(storedPassword, cost_); // slow: outside the lock
    return Locked([&] {
        Statement insert =
            db_.Prepare("INSERT INTO accounts(user_id, password, created) VALUES(?1, ?2, ?3) "
                        "ON CONFLICT(user_id) DO NOTHING RETURNING id");
        insert.Bind(1, userId).Bind(2, hash).Bind(3, now);
        if (!insert.Step()) {
            return CreateResult::AlreadyExists;
        }
        const AccountKey account = insert.Int(0);
        insert.Run(); // to its end, where the change is committed
        // Only the changed account: reloading the whole view would cost time in the number of
        // accounts, with the lock held.
        Committed(change::LoginSet{{account, std::string(userId), hash}});
        return CreateResult::Created;
    });
}

Result<bool> Storage::SetPassword(std::string_view userId, std::string_view storedPassword) {
    const std::string hash = HashPassword(storedPassword, cost_); // slow: outside the lock
    return Locked([&] {
        Statement update = db_.Prepare(
            "UPDATE accounts SET password = ?2 WHERE user_id = ?1 RETURNING id, user_id");
        update.Bind(1, userId).Bind(2, hash);
        if (!update.Step()) {
            return false;
        }
        LoginRecord login{update.Int(0), update.Text(1), hash};
        update.Run();
        Committed(change::LoginSet{std::move(login)});
        return true;
    });
}

Result<bool> Storage::DeleteAccount(std::string_view userId) {
    return Locked([&] {
        Statement remove =
            db_.Prepare("DELETE FROM accounts WHERE user_id = ?1 RETURNING id, user_id");
        remove.Bind(1, userId);
        if (!remove.Step()) {
            return false;
        }
        change::AccountRemoved removed{remove.Int(0), remove.Text(1)};
        remove.Run();
        Committed(std::move(removed)); // its hosts went with it
        return true;
    });
}

Result<std::optional<LoginRecord>> Storage::FindLogin(std::string_view userId) {
    return Locked([&]() -> std::optional<LoginRecord> {
        Statement query =
            db_.Prepare("SELECT id, user_id, password FROM accounts WHERE user_id = ?1");
        query.Bind(1, userId);
        if (!query.Step()) {
            return std::nullopt;
        }
        return LoginRecord{query.Int(0), query.Text(1), query.Text(2)};
    });
}

Result<std::optional<AccountKey>> Storage::FindAccount(std::string_view userId) {
    return Locked([&]() -> std::optional<AccountKey> {
        Statement query = db_.Prepare("SELECT id FROM accounts WHERE user_id = ?1");
        query.Bind(1, userId);
        if (!query.Step()) {
            return std::nullopt;
        }
        return query.Int(0);
    });
}

Result<std::vector<AccountSummary>> Storage::ListAccounts() {
    return Locked([&] {
        Statement query = db_.Prepare(
            "SELECT a.user_id, a.created, (SELECT count(*) FROM hosts h WHERE h.account = a.id) "
            "FROM accounts a ORDER BY a.user_id");
        std::vector<AccountSummary> accounts;
        while (query.Step()) {
            accounts.push_back({query.Text(0), query.Int(1), query.Int(2)});
        }
        return accounts;
    });
}

Result<std::string> Storage::RecordedAddress(AccountKey account, std::string_view hostName) {
    return Locked([&] {
        Statement query = db_.Prepare("SELECT address FROM hosts WHERE account = ?1 AND name = ?2");
        query.Bind(1, account).Bind(2, hostName);
        return query.Step() ? query.Text(0) : std::string();
    });
}

Result<std::optional<HostNumber>> Storage::RecordAddress(AccountKey account,
                                                         std::string_view hostName,
                                                         std::string_view address, UnixTime now,
                                                         std::string_view clientVersion) {
    return Locked([&] {
        Transaction transaction(db_);
        const auto number = WriteAddress(account, hostName, address, now, clientVersion);
        transaction.Commit();
        if (number) {
            Committed(change::ReportSet{account,
                                        std::string(hostName),
                                        {std::string(address), now, std::string(clientVersion)}});
        }
        return number;
    });
}

Result<std::vector<ReportOutcome>>
Storage::WriteReports(const std::vector<AddressReport>& reports) {
    return Locked([&] {
        std::vector<ReportOutcome> outcomes(reports.size(), ReportOutcome::Failed);
        Transaction transaction(db_);
        // Another process may have changed a password: the view must show it before the
        // reports are checked against it.
        LoadViewIfChangedElsewhere();
        for (std::size_t i = 0; i < reports.size(); ++i) {
            const AddressReport& report = reports[i];
            if (!StillHasHash(report.Account, report.ProvenHash)) {
                outcomes[i] = ReportOutcome::LoginChanged;
                continue;
            }
            const auto number = WriteAddress(report.Account, report.Host, report.Address,
                                             report.Now, report.ClientVersion);
            outcomes[i] = number ? ReportOutcome::Recorded : ReportOutcome::TooManyHosts;
        }
        transaction.Commit();
        for (std::size_t i = 0; i < reports.size(); ++i) {
            if (outcomes[i] == ReportOutcome::Recorded) {
                const AddressReport& report = reports[i];
                Committed(change::ReportSet{report.Account,
                                            report.Host,
                                            {report.Address, report.Now, report.ClientVersion}});
            }
        }
        return outcomes;
    });
}

bool Storage::StillHasHash(AccountKey account, const std::string& hash) {
    Statement query = db_.Prepare("SELECT password FROM accounts WHERE id = ?1");
    query.Bind(1, account);
    return query.Step() && query.Text(0) == hash;
}

// Inside a transaction.
std::optional<HostNumber> Storage::WriteAddress(AccountKey account, std::string_view hostName,
                                                std::string_view address, UnixTime now,
                                                std::string_view clientVersion) {
    // Update first and insert only when nothing matched: an upsert would use up a host
    // number on every report of a known host.
    HostNumber number = 0;
    {
        Statement update =
            db_.Prepare("UPDATE hosts SET address = ?3, reported = ?4, client_version = ?5 "
                        "WHERE account = ?1 AND name = ?2 RETURNING number");
        update.Bind(1, account).Bind(2, hostName).Bind(3, address).Bind(4, now);
        update.Bind(5, clientVersion);
        if (update.Step()) {
            number = update.Int(0);
        }
    }
    if (number == 0) {
        Statement count = db_.Prepare("SELECT count(*) FROM hosts WHERE account = ?1");
        count.Bind(1, account);
        if (count.Step() && count.Int(0) >= kMaxHostsPerAccount) {
            return std::nullopt;
        }
    }
    if (number == 0) {
        Statement insert =
            db_.Prepare("INSERT INTO hosts(account, name, address, reported, client_version) "
                        "VALUES(?1, ?2, ?3, ?4, ?5) RETURNING number");
        insert.Bind(1, account).Bind(2, hostName).Bind(3, address).Bind(4, now);
        insert.Bind(5, clientVersion);
        insert.Step();
        number = insert.Int(0);
    }
    return number;
}

std::vector<HostRecord> Storage::ReadHosts(Statement& statement) {
    std::vector<HostRecord> hosts;
    while (statement.Step()) {
        HostRecord host;
        host.Number = statement.Int(0);
        host.Owner = statement.Text(1);
        host.Name = statement.Text(2);
        host.Address = statement.Text(3);
        if (!statement.IsNull(4)) {
            host.Reported = statement.Int(4);
        }
        host.ClientVersion = statement.Text(5);
        hosts.push_back(std::move(host));
    }
    return hosts;
}

Result<std::vector<HostRecord>> Storage::HostsOf(AccountKey account) {
    return Locked([&] {
        Statement query = db_.Prepare(std::string("SELECT ") + kHostColumns +
                                      " FROM hosts h JOIN accounts a ON a.id = h.account "
                                      "WHERE h.account = ?1 ORDER BY h.number");
        query.Bind(1, account);
        return ReadHosts(query);
    });
}

Result<std::vector<HostRecord>> Storage::AllHosts() {
    return Locked([&] {
        Statement query = db_.Prepare(std::string("SELECT ") + kHostColumns +
                                      " FROM hosts h JOIN accounts a ON a.id = h.account "
                                      "ORDER BY a.user_id, h.number");
        return ReadHosts(query);
    });
}

Result<OfferOutcome> Storage::OfferHosts(AccountKey owner, std::string_view buddyUserId,
                                         const std::vector<HostNumber>& hosts, UnixTime now) {
    return Locked([&]() -> OfferOutcome {
        Transaction transaction(db_);
        AccountKey buddy = 0;
        {
            Statement query = db_.Prepare("SELECT id FROM accounts WHERE user_id = ?1");
            query.Bind(1, buddyUserId);
            if (!query.Step()) {
                return {OfferResult::UnknownBuddy};
            }
            buddy = query.Int(0);
        }
        if (buddy == owner) {
            return {OfferResult::SelfOffer};
        }
        for (const HostNumber host : hosts) {
            Statement owned = db_.Prepare("SELECT 1 FROM hosts WHERE number = ?1 AND account = ?2");
            owned.Bind(1, host).Bind(2, owner);
            if (!owned.Step()) {
                return {OfferResult::ForeignHost, host};
            }
        }
        for (const HostNumber host : hosts) {
            db_.Prepare("INSERT INTO offers(host, buddy, offered) VALUES(?1, ?2, ?3) "
                        "ON CONFLICT(host, buddy) DO NOTHING")
                .Bind(1, host)
                .Bind(2, buddy)
                .Bind(3, now)
                .Run();
        }
        transaction.Commit();
        return {OfferResult::Recorded};
    });
}

Result<std::vector<HostRecord>> Storage::HostsOfferedTo(AccountKey account) {
    return Locked([&] {
        Statement query = db_.Prepare(std::string("SELECT ") + kHostColumns +
                                      " FROM offers o JOIN hosts h ON h.number = o.host "
                                      "JOIN accounts a ON a.id = h.account "
                                      "WHERE o.buddy = ?1 ORDER BY a.user_id, h.name, h.number");
        query.Bind(1, account);
        return ReadHosts(query);
    });
}

Result<std::int64_t> Storage::RemoveOffersBetween(AccountKey a, AccountKey b) {
    return Locked([&] {
        db_.Prepare("DELETE FROM offers WHERE "
                    "(buddy = ?2 AND host IN (SELECT number FROM hosts WHERE account = ?1)) OR "
                    "(buddy = ?1 AND host IN (SELECT number FROM hosts WHERE account = ?2))")
            .Bind(1, a)
            .Bind(2, b)
            .Run();
        return db_.Changes();
    });
}

std::optional<std::string> Storage::Setting(std::string_view key) {
    Statement query = db_.Prepare("SELECT value FROM settings WHERE key = ?1");
    query.Bind(1, key);
    if (!query.Step()) {
        return std::nullopt;
    }
    return query.Text(0);
}

void Storage::SetSetting(std::string_view key, std::optional<std::string_view> value) {
    if (value) {
        db_.Prepare("INSERT INTO settings(key, value) VALUES(?1, ?2) "
                    "ON CONFLICT(key) DO UPDATE SET value = excluded.value")
            .Bind(1, key)
            .BindBlob(2, *value)
            .Run();
    } else {
        db_.Prepare("DELETE FROM settings WHERE key = ?1").Bind(1, key).Run();
    }
}

Result<std::optional<std::string>> Storage::OfferedVersion() {
    return Locked([&] { return Setting(kOfferedVersionKey); });
}

Result<void> Storage::SetOfferedVersion(std::optional<std::string> version) {
    return Locked([&] { SetSetting(kOfferedVersionKey, version); });
}

Result<std::optional<std::string>> Storage::Package() {
    return Locked([&] { return Setting(kPackageKey); });
}

Result<std::optional<std::int64_t>> Storage::PackageSize() {
    return Locked([&]() -> std::optional<std::int64_t> {
        Statement query = db_.Prepare("SELECT length(value) FROM settings WHERE key = ?1");
        query.Bind(1, kPackageKey);
        if (!query.Step()) {
            return std::nullopt;
        }
        return query.Int(0);
    });
}

Result<std::shared_ptr<const std::string>> Storage::SharedPackage() {
    return Locked([&] {
        LoadViewIfChangedElsewhere();
        if (!packageRead_) {
            auto bytes = Setting(kPackageKey);
            package_ = bytes ? std::make_shared<const std::string>(std::move(*bytes)) : nullptr;
            packageRead_ = true;
        }
        return package_;
    });
}

Result<void> Storage::SetPackage(std::optional<std::string> bytes) {
    return Locked([&] {
        SetSetting(kPackageKey, bytes);
        package_.reset();
        packageRead_ = false;
    });
}

Result<std::optional<std::string>> Storage::PackageSignature() {
    return Locked([&] { return Setting(kPackageSignatureKey); });
}

Result<void> Storage::SetPackageSignature(std::optional<std::string> signature) {
    return Locked([&] { SetSetting(kPackageSignatureKey, signature); });
}

Result<void> Storage::CheckWritable() {
    // The row is added and removed in the same transaction, but the pages it touched are
    // still written to the log at the commit, so a file system that refuses writes fails here.
    return Locked([&] {
        Transaction transaction(db_);
        SetSetting(kWriteCheckKey, std::string_view("1"));
        SetSetting(kWriteCheckKey, std::nullopt);
        transaction.Commit();
    });
}

} // namespace server
