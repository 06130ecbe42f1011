#include "server/Storage.h"

#include "server/MemoryView.h"

#include <chrono>
#include <iostream>
#include <memory>

namespace server {

namespace {

// 1: passwords kept as the client sends them; 2: only their hashes.
constexpr std::int64_t kSchemaVersion = 2;
constexpr std::chrono::milliseconds kCheckpointInterval{500};
// How soon a change made by another process (an administration command) reaches the view.
constexpr std::chrono::milliseconds kViewPollInterval{50};

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

} // namespace

Storage::Storage(const std::string& path, HashCost cost)
    : path_(path), cost_(cost), db_(path), view_(std::make_unique<MemoryView>()) {
    db_.Execute("PRAGMA busy_timeout = 5000");
    db_.Execute("PRAGMA journal_mode = WAL");
    db_.Execute("PRAGMA synchronous = NORMAL");
    db_.Execute("PRAGMA foreign_keys = ON");
    db_.Execute("PRAGMA wal_autocheckpoint = 0");
    Migrate();
    LoadView();
    // The log exists once the database has been read in its write-ahead mode.
    walWatch_ = std::make_unique<WalWatch>(path_ + "-wal");
    checkpointer_ = std::thread([this] { CheckpointLoop(); });
    writer_ = std::thread([this] { WriteLoop(); });
}

Storage::~Storage() {
    {
        std::lock_guard lock(queueMutex_);
        writerStopping_ = true;
    }
    queueWake_.notify_all();
    writer_.join(); // writes every report still queued first
    {
        std::lock_guard lock(checkpointMutex_);
        stopping_ = true;
    }
    checkpointWake_.notify_all();
    checkpointer_.join();
}

void Storage::LoadView() {
    std::vector<LoginRecord> logins;
    {
        Statement query = db_.Prepare("SELECT id, user_id, password FROM accounts");
        while (query.Step()) {
            logins.push_back({query.Int(0), query.Text(1), query.Text(2)});
        }
    }
    std::vector<MemoryView::Host> hosts;
    {
        Statement query =
            db_.Prepare("SELECT account, name, address, reported, client_version FROM hosts");
        while (query.Step()) {
            MemoryView::Report last{query.Text(2), std::nullopt, query.Text(4)};
            if (!query.IsNull(3)) {
                last.Reported = query.Int(3);
            }
            hosts.push_back({query.Int(0), query.Text(1), std::move(last)});
        }
    }
    Statement version = db_.Prepare("PRAGMA data_version");
    dataVersion_ = version.Step() ? version.Int(0) : -1;
    package_.reset();
    packageRead_ = false;
    view_->Replace(std::move(logins), std::move(hosts));
}

// The change count moves only for commits made through other connections.
// With the lock held, so checks never overlap.
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

void Storage::CheckpointLoop() {
    std::unique_ptr<Database> checkpoints;
    auto nextCheckpoint = std::chrono::steady_clock::now() + kCheckpointInterval;
    std::unique_lock lock(checkpointMutex_);
    while (!checkpointWake_.wait_for(lock, kViewPollInterval, [this] { return stopping_; })) {
        lock.unlock();
        try {
            std::lock_guard viewLock(mutex_);
            LoadViewIfChangedElsewhere();
        } catch (const StorageError& error) {
            std::cerr << "corvale-server: reading changes failed: " << error.what() << '\n';
        }
        if (std::chrono::steady_clock::now() < nextCheckpoint) {
            lock.lock();
            continue;
        }
        nextCheckpoint = std::chrono::steady_clock::now() + kCheckpointInterval;
        try {
            if (!checkpoints) {
                checkpoints = std::make_unique<Database>(path_);
                checkpoints->Execute("PRAGMA busy_timeout = 5000");
            }
            // Passive: copies what it can without waiting for, or blocking, any request.
            checkpoints->Execute("PRAGMA wal_checkpoint(PASSIVE)");
        } catch (const StorageError& error) {
            std::cerr << "corvale-server: checkpoint failed: " << error.what() << '\n';
        }
        lock.lock();
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

CreateResult Storage::CreateAccount(std::string_view userId, std::string_view storedPassword,
                                    UnixTime now) {
    const std::string hash = HashPassword(storedPassword, cost_); // slow: outside the lock
    std::lock_guard lock(mutex_);
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
    view_->SetLogin({account, std::string(userId), hash});
    return CreateResult::Created;
}

bool Storage::SetPassword(std::string_view userId, std::string_view storedPassword) {
    const std::string hash = HashPassword(storedPassword, cost_);
    std::lock_guard lock(mutex_);
    Statement update =
        db_.Prepare("UPDATE accounts SET password = ?2 WHERE user_id = ?1 RETURNING id, user_id");
    update.Bind(1, userId).Bind(2, hash);
    if (!update.Step()) {
        return false;
    }
    LoginRecord login{update.Int(0), update.Text(1), hash};
    update.Run();
    view_->SetLogin(std::move(login));
    return true;
}

bool Storage::DeleteAccount(std::string_view userId) {
    std::lock_guard lock(mutex_);
    Statement remove = db_.Prepare("DELETE FROM accounts WHERE user_id = ?1 RETURNING id, user_id");
    remove.Bind(1, userId);
    if (!remove.Step()) {
        return false;
    }
    const AccountKey account = remove.Int(0);
    const std::string storedUserId = remove.Text(1);
    remove.Run();
    view_->RemoveAccount(account, storedUserId); // its hosts went with it
    return true;
}

std::optional<AccountKey> Storage::Authenticate(std::string_view userId,
                                                std::string_view storedPassword) {
    const auto login = FindLogin(userId);
    if (!login || storedPassword.empty() || !VerifyPassword(login->PasswordHash, storedPassword)) {
        return std::nullopt;
    }
    return login->Account;
}

std::optional<LoginRecord> Storage::FindLogin(std::string_view userId) {
    std::lock_guard lock(mutex_);
    Statement query = db_.Prepare("SELECT id, user_id, password FROM accounts WHERE user_id = ?1");
    query.Bind(1, userId);
    if (!query.Step()) {
        return std::nullopt;
    }
    return LoginRecord{query.Int(0), query.Text(1), query.Text(2)};
}

std::optional<AccountKey> Storage::FindAccount(std::string_view userId) {
    std::lock_guard lock(mutex_);
    Statement query = db_.Prepare("SELECT id FROM accounts WHERE user_id = ?1");
    query.Bind(1, userId);
    if (!query.Step()) {
        return std::nullopt;
    }
    return query.Int(0);
}

std::string Storage::UserIdOf(AccountKey account) {
    std::lock_guard lock(mutex_);
    Statement query = db_.Prepare("SELECT user_id FROM accounts WHERE id = ?1");
    query.Bind(1, account);
    return query.Step() ? query.Text(0) : std::string();
}

std::vector<AccountSummary> Storage::ListAccounts() {
    std::lock_guard lock(mutex_);
    Statement query = db_.Prepare(
        "SELECT a.user_id, a.created, (SELECT count(*) FROM hosts h WHERE h.account = a.id) "
        "FROM accounts a ORDER BY a.user_id");
    std::vector<AccountSummary> accounts;
    while (query.Step()) {
        accounts.push_back({query.Text(0), query.Int(1), query.Int(2)});
    }
    return accounts;
}

std::string Storage::RecordedAddress(AccountKey account, std::string_view hostName) {
    std::lock_guard lock(mutex_);
    Statement query = db_.Prepare("SELECT address FROM hosts WHERE account = ?1 AND name = ?2");
    query.Bind(1, account).Bind(2, hostName);
    return query.Step() ? query.Text(0) : std::string();
}

std::optional<HostNumber> Storage::RecordAddress(AccountKey account, std::string_view hostName,
                                                 std::string_view address, UnixTime now,
                                                 std::string_view clientVersion) {
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    const auto number = RecordAddressLocked(account, hostName, address, now, clientVersion);
    transaction.Commit();
    if (number) {
        view_->SetReport(account, hostName,
                         {std::string(address), now, std::string(clientVersion)});
    }
    return number;
}

// Inside a transaction, with the lock held.
std::optional<HostNumber> Storage::RecordAddressLocked(AccountKey account,
                                                       std::string_view hostName,
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

std::vector<HostRecord> Storage::HostsOf(AccountKey account) {
    std::lock_guard lock(mutex_);
    Statement query = db_.Prepare(std::string("SELECT ") + kHostColumns +
                                  " FROM hosts h JOIN accounts a ON a.id = h.account "
                                  "WHERE h.account = ?1 ORDER BY h.number");
    query.Bind(1, account);
    return ReadHosts(query);
}

std::vector<HostRecord> Storage::AllHosts() {
    std::lock_guard lock(mutex_);
    Statement query = db_.Prepare(std::string("SELECT ") + kHostColumns +
                                  " FROM hosts h JOIN accounts a ON a.id = h.account "
                                  "ORDER BY a.user_id, h.number");
    return ReadHosts(query);
}

OfferOutcome Storage::OfferHosts(AccountKey owner, std::string_view buddyUserId,
                                 const std::vector<HostNumber>& hosts, UnixTime now) {
    std::lock_guard lock(mutex_);
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
}

std::vector<HostRecord> Storage::HostsOfferedTo(AccountKey account) {
    std::lock_guard lock(mutex_);
    Statement query = db_.Prepare(std::string("SELECT ") + kHostColumns +
                                  " FROM offers o JOIN hosts h ON h.number = o.host "
                                  "JOIN accounts a ON a.id = h.account "
                                  "WHERE o.buddy = ?1 ORDER BY a.user_id, h.name, h.number");
    query.Bind(1, account);
    return ReadHosts(query);
}

std::int64_t Storage::RemoveOffersBetween(AccountKey a, AccountKey b) {
    std::lock_guard lock(mutex_);
    db_.Prepare("DELETE FROM offers WHERE "
                "(buddy = ?2 AND host IN (SELECT number FROM hosts WHERE account = ?1)) OR "
                "(buddy = ?1 AND host IN (SELECT number FROM hosts WHERE account = ?2))")
        .Bind(1, a)
        .Bind(2, b)
        .Run();
    return db_.Changes();
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

std::optional<std::string> Storage::OfferedVersion() {
    std::lock_guard lock(mutex_);
    return Setting(kOfferedVersionKey);
}

void Storage::SetOfferedVersion(std::optional<std::string> version) {
    std::lock_guard lock(mutex_);
    SetSetting(kOfferedVersionKey, version);
}

std::optional<std::string> Storage::Package() {
    std::lock_guard lock(mutex_);
    return Setting(kPackageKey);
}

std::optional<std::int64_t> Storage::PackageSize() {
    std::lock_guard lock(mutex_);
    Statement query = db_.Prepare("SELECT length(value) FROM settings WHERE key = ?1");
    query.Bind(1, kPackageKey);
    if (!query.Step()) {
        return std::nullopt;
    }
    return query.Int(0);
}

std::shared_ptr<const std::string> Storage::SharedPackage() {
    std::lock_guard lock(mutex_);
    LoadViewIfChangedElsewhere();
    if (!packageRead_) {
        auto bytes = Setting(kPackageKey);
        package_ = bytes ? std::make_shared<const std::string>(std::move(*bytes)) : nullptr;
        packageRead_ = true;
    }
    return package_;
}

void Storage::SetPackage(std::optional<std::string> bytes) {
    std::lock_guard lock(mutex_);
    SetSetting(kPackageKey, bytes);
    package_.reset();
    packageRead_ = false;
}

} // namespace server
