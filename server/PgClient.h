#pragma once
// A thin RAII layer over libpq, PostgreSQL's C client: one connection, the results of its
// commands, and a transaction that rolls back unless committed. Parameters and results travel
// as text (bytes as binary where asked), so no value is ever spliced into a command's text.
// Not thread-safe by itself; the owner serialises access.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct pg_conn;
struct pg_result;

namespace server {

// A failed connection or command; SqlState() is the server's five-character code, empty when
// the failure was the connection's rather than the command's.
class PgError : public std::runtime_error {
public:
    PgError(const std::string& message, std::string sqlState = {})
        : std::runtime_error(message), sqlState_(std::move(sqlState)) {}
    const std::string& SqlState() const { return sqlState_; }

private:
    std::string sqlState_;
};

// A COMMIT the server made but answered with a warning, as when its wait for a synchronous
// standby was cut short: the changes may be on this server alone, and would be lost on a
// failover, so it is no success.
class PgUnconfirmedCommit : public PgError {
public:
    using PgError::PgError;
};

// One parameter of a command: text, bytes sent in binary, or NULL.
class PgParam {
public:
    PgParam(std::string_view text) : value_(text) {}
    PgParam(const char* text) : value_(std::string(text)) {}
    PgParam(const std::string& text) : value_(text) {}
    PgParam(std::int64_t value) : value_(std::to_string(value)) {}
    PgParam(std::nullopt_t) {}
    static PgParam Bytes(std::string_view bytes) {
        PgParam param(bytes);
        param.binary_ = true;
        return param;
    }
    template <typename T> PgParam(const std::optional<T>& value) {
        if (value) {
            *this = PgParam(*value);
        }
    }

    bool IsNull() const { return !value_; }
    bool IsBinary() const { return binary_; }
    const std::string& Value() const { return *value_; }

private:
    std::optional<std::string> value_;
    bool binary_ = false;
};

// What a command gave back: its rows, read by 0-based row and column.
class PgResult {
public:
    explicit PgResult(pg_result* result);
    int Rows() const;
    // The number of rows the command changed (UPDATE, DELETE, INSERT).
    std::int64_t Changed() const;
    // The command's tag, such as "COMMIT", or "ROLLBACK" for a COMMIT of a failed transaction.
    std::string Tag() const;
    bool IsNull(int row, int column) const;
    std::string Text(int row, int column) const; // empty for NULL; raw bytes in binary results
    std::int64_t Int(int row, int column) const; // throws PgError when it is no integer

private:
    struct Clear {
        void operator()(pg_result* result) const;
    };
    std::unique_ptr<pg_result, Clear> result_;
};

// A notification heard on a channel this connection listens to.
struct PgNotification {
    std::string Channel;
    std::string Payload;
    int SenderPid = 0;
};

// How long a connection waits for the server when the address gives no connect_timeout: a
// host that takes no connection, or never answers, is given up after this (each host of an
// address that names several).
inline constexpr int kDefaultConnectTimeoutSeconds = 5;

class PgConnection {
public:
    // Connects with a connection string (key=value pairs or a postgresql:// URI) and libpq's
    // environment and service-file conventions for what it leaves out, and the connect
    // timeout above where it gives none. Throws PgError.
    explicit PgConnection(const std::string& conninfo);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // Whether the connection is still up as far as libpq knows (it learns of a loss when a
    // command fails).
    bool IsOk() const;
    // The server's process serving this connection.
    int BackendPid() const;

    // Runs one or more commands without parameters; the last one's result.
    PgResult Execute(const std::string& sql);
    // Runs one command with $1, $2... bound to `params`; with `binaryResult`, every column
    // comes back in binary form (for bytes).
    PgResult Query(const std::string& sql, const std::vector<PgParam>& params = {},
                   bool binaryResult = false);

    // How long a command may wait for its answer before it is cancelled (zero, the default:
    // for as long as it takes). A command the server does not end even then leaves the
    // connection lost. This bounds what the server's statement timeout does not: the wait of a
    // COMMIT for a synchronous standby, and a server that no longer answers.
    void SetCommandWait(std::chrono::milliseconds wait) { commandWait_ = wait; }

    // The socket, for waiting on notifications; -1 when there is none.
    int Socket() const;
    // Reads what arrived on the socket and gives every notification received so far. Throws
    // PgError when the connection is lost.
    std::vector<PgNotification> TakeNotifications();
    // The warnings the server sent since the last call, one line each.
    std::vector<std::string> TakeWarnings();

private:
    PgResult Checked(pg_result* result, const std::string& sql);
    // The result of the command just sent (the first failed one's, else the last one's),
    // within the command wait; null when the connection failed.
    pg_result* Finish();
    // Waits until an answer can be read without blocking; false when `deadline` passed.
    bool WaitReadable(std::chrono::steady_clock::time_point deadline);
    static void OnNotice(void* self, const pg_result* notice);

    std::vector<std::string> warnings_;
    std::chrono::milliseconds commandWait_{0};
    bool broken_ = false; // a command's answer never came

    pg_conn* conn_ = nullptr;
};

// BEGIN ... COMMIT, rolled back when the object goes without Commit (as when a command threw).
// Commit throws PgUnconfirmedCommit for a commit that came with a warning.
class PgTransaction {
public:
    explicit PgTransaction(PgConnection& connection);
    ~PgTransaction();
    PgTransaction(const PgTransaction&) = delete;
    PgTransaction& operator=(const PgTransaction&) = delete;
    void Commit();

private:
    PgConnection& connection_;
    bool done_ = false;
};

// Quotes a name (of a channel, table...) for use in a command's text.
std::string PgQuoteIdentifier(std::string_view name);

} // namespace server
