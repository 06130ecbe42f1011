#include "server/Sqlite.h"

#include <sqlite3.h>

namespace server {

namespace {

[[noreturn]] void Fail(sqlite3* db, const std::string& what) {
    throw StorageError(what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

void Check(sqlite3_stmt* statement, int rc, const char* what) {
    if (rc != SQLITE_OK) {
        Fail(sqlite3_db_handle(statement), what);
    }
}

} // namespace

Statement& Statement::Bind(int index, std::string_view text) {
    Check(statement_,
          sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT,
                              SQLITE_UTF8),
          "bind");
    return *this;
}

Statement& Statement::Bind(int index, std::int64_t value) {
    Check(statement_, sqlite3_bind_int64(statement_, index, value), "bind");
    return *this;
}

Statement& Statement::BindBlob(int index, std::string_view bytes) {
    // A zero-length blob pointer must not be null, or SQLite stores NULL instead.
    static const char kEmpty = 0;
    Check(statement_,
          sqlite3_bind_blob64(statement_, index, bytes.empty() ? &kEmpty : bytes.data(),
                              bytes.size(), SQLITE_TRANSIENT),
          "bind");
    return *this;
}

Statement& Statement::BindNull(int index) {
    Check(statement_, sqlite3_bind_null(statement_, index), "bind");
    return *this;
}

bool Statement::Step() {
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    Fail(sqlite3_db_handle(statement_), "step");
}

void Statement::Run() {
    while (Step()) {
    }
}

std::int64_t Statement::Int(int column) const {
    return sqlite3_column_int64(statement_, column);
}

std::string Statement::Text(int column) const {
    const void* bytes = sqlite3_column_blob(statement_, column);
    const int size = sqlite3_column_bytes(statement_, column);
    return bytes ? std::string(static_cast<const char*>(bytes), static_cast<std::size_t>(size))
                 : std::string();
}

bool Statement::IsNull(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

Statement::~Statement() {
    if (statement_) {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
}

void Database::Finaliser::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

Database::Database(const std::string& path) : path_(path) {
    const int rc =
        sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw StorageError("cannot open " + path + ": " + message);
    }
    sqlite3_extended_result_codes(db_, 1);
}

Database::~Database() {
    statements_.clear(); // every statement is finalised before the connection closes
    sqlite3_close(db_);
}

void Database::Execute(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : sqlite3_errmsg(db_);
        sqlite3_free(error);
        throw StorageError(message);
    }
}

Statement Database::Prepare(const std::string& sql) {
    auto found = statements_.find(sql);
    if (found == statements_.end()) {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                               SQLITE_PREPARE_PERSISTENT, &raw, nullptr) != SQLITE_OK) {
            Fail(db_, "prepare");
        }
        found = statements_.emplace(sql, raw).first;
    }
    return Statement(found->second.get());
}

std::int64_t Database::Changes() const {
    return sqlite3_changes64(db_);
}

Transaction::Transaction(Database& db) : db_(db) {
    db_.Execute("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (!done_) {
        try {
            db_.Execute("ROLLBACK");
        } catch (const StorageError&) {
            // The transaction is gone already (for example after a failed COMMIT).
        }
    }
}

void Transaction::Commit() {
    db_.Execute("COMMIT");
    done_ = true;
}

} // namespace server
