#pragma once
// A thin RAII layer over the SQLite C interface: one open database and its prepared
// statements. Not thread-safe by itself; the owner serialises access.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace server {

class StorageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One use of a prepared statement. It is rewound and its bindings cleared when the use ends,
// so no read snapshot outlives the call that made it.
class Statement {
public:
    explicit Statement(sqlite3_stmt* statement) : statement_(statement) {}
    ~Statement();
    Statement(Statement&& other) noexcept : statement_(other.statement_) {
        other.statement_ = nullptr;
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement& operator=(Statement&&) = delete;

    // Binds by 1-based position. Text and blobs are copied by SQLite.
    Statement& Bind(int index, std::string_view text);
    Statement& Bind(int index, std::int64_t value);
    Statement& BindBlob(int index, std::string_view bytes);
    Statement& BindNull(int index);

    // Advances to the next row; false when there is none. Throws on failure.
    bool Step();
    // Runs a statement that returns no rows.
    void Run();

    std::int64_t Int(int column) const;
    std::string Text(int column) const; // empty for NULL
    bool IsNull(int column) const;

private:
    sqlite3_stmt* statement_;
};

class Database {
public:
    // Opens or creates the file. Throws StorageError when it cannot.
    explicit Database(const std::string& path);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void Execute(const std::string& sql);
    // A statement prepared once and kept for later uses.
    Statement Prepare(const std::string& sql);
    std::int64_t Changes() const;
    std::string Path() const { return path_; }

private:
    struct Finaliser {
        void operator()(sqlite3_stmt* statement) const;
    };

    std::string path_;
    sqlite3* db_ = nullptr;
    std::map<std::string, std::unique_ptr<sqlite3_stmt, Finaliser>> statements_;
};

// Runs the body inside BEGIN IMMEDIATE ... COMMIT, rolling back when it throws.
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit();

private:
    Database& db_;
    bool done_ = false;
};

} // namespace server
