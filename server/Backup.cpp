#include "server/Backup.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sqlite3.h>
#include <thread>
#include <unistd.h>

namespace server {

namespace {

using namespace std::chrono_literals;

// How long a step may keep finding the database locked before the backup gives up.
constexpr auto kBusyLimit = 30s;
constexpr const char* kServiceTables[] = {"accounts", "hosts", "offers", "settings"};

struct Closer {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Connection = std::unique_ptr<sqlite3, Closer>;

struct BackupFinisher {
    void operator()(sqlite3_backup* backup) const { sqlite3_backup_finish(backup); }
};

std::string Why(sqlite3* db) {
    return db ? sqlite3_errmsg(db) : "out of memory";
}

// Opens an existing database file; never creates one.
Result<Connection> OpenExisting(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return Unavailable("no database file " + path);
    }
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    Connection db(raw);
    if (rc != SQLITE_OK) {
        return Unavailable("cannot open " + path + ": " + Why(raw));
    }
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, 5000);
    return db;
}

Result<void> Execute(sqlite3* db, const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : sqlite3_errmsg(db);
        sqlite3_free(message);
        return Unavailable(std::move(text));
    }
    return {};
}

// Each row's columns joined by ", ".
Result<std::vector<std::string>> Rows(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
        return Unavailable(Why(db));
    }
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
    std::vector<std::string> rows;
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
        std::string row;
        for (int column = 0; column < sqlite3_column_count(raw); ++column) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(raw, column));
            row += (column > 0 ? ", " : "") + std::string(text ? text : "NULL");
        }
        rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) {
        return Unavailable(Why(db));
    }
    return rows;
}

Result<void> SyncPath(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) {
        return Unavailable("cannot open " + path + ": " + std::strerror(errno));
    }
    const int rc = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (rc != 0) {
        return Unavailable("cannot write " + path + " to disk: " + std::strerror(error));
    }
    return {};
}

void RemoveWithCompanions(const std::string& path) {
    std::error_code ignored;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
        std::filesystem::remove(path + suffix, ignored);
    }
}

// Copies every page of `source` into `target` in steps; with `snapshot`, the source keeps one
// read transaction throughout, so the copy is of one moment and never starts over.
Result<BackupOutcome> CopyPages(sqlite3* source, sqlite3* target, const BackupOptions& options) {
    std::unique_ptr<sqlite3_backup, BackupFinisher> backup(
        sqlite3_backup_init(target, "main", source, "main"));
    if (!backup) {
        return Unavailable(Why(target));
    }
    auto busySince = std::chrono::steady_clock::time_point{};
    for (;;) {
        const int rc = sqlite3_backup_step(backup.get(), options.PagesPerStep);
        if (rc == SQLITE_DONE) {
            break;
        }
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
            const auto now = std::chrono::steady_clock::now();
            if (busySince == decltype(busySince){}) {
                busySince = now;
            } else if (now - busySince > kBusyLimit) {
                return Unavailable("the database stayed locked");
            }
            std::this_thread::sleep_for(10ms);
            continue;
        }
        if (rc != SQLITE_OK) {
            return Unavailable(Why(target));
        }
        busySince = {};
    }
    BackupOutcome outcome;
    outcome.Pages = sqlite3_backup_pagecount(backup.get());
    const int rc = sqlite3_backup_finish(backup.release());
    if (rc != SQLITE_OK) {
        return Unavailable(Why(target));
    }
    return outcome;
}

// Whether `copy` names the database or one of its companion files: replacing one of those
// would destroy what it is meant to keep.
bool NamesTheDatabase(const std::string& database, const std::string& copy) {
    std::error_code error;
    const auto target = std::filesystem::weakly_canonical(copy, error);
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
        const std::string own = database + suffix;
        std::error_code ignored;
        if (std::filesystem::equivalent(own, copy, ignored) ||
            (!error && std::filesystem::weakly_canonical(own, ignored) == target)) {
            return true;
        }
    }
    return false;
}

} // namespace

Result<BackupOutcome> BackupDatabase(const std::string& database, const std::string& copy,
                                     BackupOptions options) {
    if (options.PagesPerStep < 1) {
        return Refusal("a backup step copies at least one page");
    }
    auto source = OpenExisting(database);
    if (!source) {
        return source.Failure();
    }
    if (NamesTheDatabase(database, copy) || NamesTheDatabase(database, copy + ".partial")) {
        return Refusal("the copy " + copy + " would replace the database or its log");
    }
    // One snapshot for the whole copy. In write-ahead mode a reader holds up no writer; a
    // database in another journal mode is copied step by step, starting over when changed.
    const auto mode = Rows(source->get(), "PRAGMA journal_mode");
    if (!mode) {
        return Unavailable("cannot read " + database + ": " + mode.Failure().Message);
    }
    const bool snapshot = !mode->empty() && mode->front() == "wal";
    if (snapshot) {
        if (auto begun = Execute(source->get(), "BEGIN; SELECT count(*) FROM sqlite_schema");
            !begun) {
            return Unavailable("cannot read " + database + ": " + begun.Failure().Message);
        }
    }

    const std::string partial = copy + ".partial";
    RemoveWithCompanions(partial);
    BackupOutcome outcome;
    {
        sqlite3* raw = nullptr;
        const int rc = sqlite3_open_v2(partial.c_str(), &raw,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        Connection target(raw);
        if (rc != SQLITE_OK) {
            return Unavailable("cannot create " + partial + ": " + Why(raw));
        }
        sqlite3_busy_timeout(raw, 5000);
        auto copied = CopyPages(source->get(), raw, options);
        if (!copied) {
            target.reset();
            RemoveWithCompanions(partial);
            return Unavailable("cannot copy " + database + " to " + partial + ": " +
                               copied.Failure().Message);
        }
        outcome = *copied;
    }
    if (snapshot) {
        (void)Execute(source->get(), "COMMIT");
    }
    source->reset();

    std::error_code error;
    outcome.Bytes = static_cast<std::int64_t>(std::filesystem::file_size(partial, error));
    if (auto synced = SyncPath(partial, O_RDONLY); !synced) {
        RemoveWithCompanions(partial);
        return synced.Failure();
    }
    // A log left beside an earlier copy would be replayed into this one when it is opened.
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        std::filesystem::remove(copy + suffix, error);
    }
    std::filesystem::rename(partial, copy, error);
    if (error) {
        RemoveWithCompanions(partial);
        return Unavailable("cannot rename " + partial + " to " + copy + ": " + error.message());
    }
    const auto folder = std::filesystem::absolute(copy, error).parent_path();
    if (auto synced = SyncPath(folder.string(), O_RDONLY | O_DIRECTORY); !synced) {
        return synced.Failure();
    }
    return outcome;
}

Result<std::vector<std::string>> CheckDatabase(const std::string& database) {
    auto db = OpenExisting(database);
    if (!db) {
        return db.Failure();
    }
    std::vector<std::string> problems;
    // A file too damaged for the check to go through is damaged all the same.
    auto integrity = Rows(db->get(), "PRAGMA integrity_check");
    if (!integrity) {
        problems.push_back("the integrity check stopped: " + integrity.Failure().Message);
        return problems;
    }
    if (!(integrity->size() == 1 && integrity->front() == "ok")) {
        problems = std::move(*integrity);
    }
    const auto tables = Rows(db->get(), "SELECT name FROM sqlite_schema WHERE type = 'table'");
    if (!tables) {
        problems.push_back("cannot list the tables: " + tables.Failure().Message);
        return problems;
    }
    for (const char* table : kServiceTables) {
        if (std::find(tables->begin(), tables->end(), table) == tables->end()) {
            problems.push_back(std::string("no table ") + table +
                               " (not a database of this service)");
        }
    }
    if (const auto dangling = Rows(db->get(), "PRAGMA foreign_key_check"); !dangling) {
        problems.push_back("cannot check references: " + dangling.Failure().Message);
    } else {
        // table, row, referred table, constraint
        for (const std::string& row : *dangling) {
            problems.push_back("a reference that leads nowhere (table, row, to): " + row);
        }
    }
    return problems;
}

} // namespace server
