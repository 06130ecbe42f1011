#include "server/PgClient.h"

#include <charconv>
#include <cstring>
#include <iostream>
#include <libpq-fe.h>
#include <poll.h>
#include <utility>

namespace server {

namespace {

// libpq's messages end in a line end; a message of ours is one line.
std::string Trimmed(const char* message) {
    std::string text = message != nullptr ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

} // namespace

void PgResult::Clear::operator()(pg_result* result) const {
    PQclear(result);
}

PgResult::PgResult(pg_result* result) : result_(result) {}

int PgResult::Rows() const {
    return PQntuples(result_.get());
}

std::int64_t PgResult::Changed() const {
    const char* count = PQcmdTuples(result_.get());
    std::int64_t value = 0;
    std::from_chars(count, count + std::char_traits<char>::length(count), value);
    return value;
}

std::string PgResult::Tag() const {
    return PQcmdStatus(result_.get());
}

bool PgResult::IsNull(int row, int column) const {
    return PQgetisnull(result_.get(), row, column) != 0;
}

std::string PgResult::Text(int row, int column) const {
    if (IsNull(row, column)) {
        return {};
    }
    const char* value = PQgetvalue(result_.get(), row, column);
    const int length = PQgetlength(result_.get(), row, column);
    return std::string(value, static_cast<std::size_t>(length));
}

std::int64_t PgResult::Int(int row, int column) const {
    const std::string text = Text(row, column);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        throw PgError("the database gave \"" + text + "\" where a number was expected");
    }
    return value;
}

PgConnection::PgConnection(const std::string& conninfo) {
    // libpq takes the parameters in order, a later one over an earlier one: the default goes
    // first, and the connection string, expanded, after it.
    const std::string timeout = std::to_string(kDefaultConnectTimeoutSeconds);
    const char* const keywords[] = {"connect_timeout", "dbname", nullptr};
    const char* const values[] = {timeout.c_str(), conninfo.c_str(), nullptr};
    conn_ = PQconnectdbParams(keywords, values, /*expand_dbname=*/1);
    if (conn_ == nullptr) {
        throw PgError("cannot connect to the database: out of memory");
    }
    if (PQstatus(conn_) != CONNECTION_OK) {
        const std::string message = Trimmed(PQerrorMessage(conn_));
        PQfinish(conn_);
        conn_ = nullptr;
        throw PgError("cannot connect to the database: " + message);
    }
    PQsetNoticeReceiver(conn_, &PgConnection::OnNotice, this);
}

void PgConnection::OnNotice(void* self, const pg_result* notice) {
    const std::string message = Trimmed(PQresultErrorMessage(notice));
    const char* severity = PQresultErrorField(notice, PG_DIAG_SEVERITY_NONLOCALIZED);
    if (severity != nullptr && std::strcmp(severity, "WARNING") == 0) {
        static_cast<PgConnection*>(self)->warnings_.push_back(message);
    }
    // As libpq's own receiver does: the server's notices go to the log.
    std::cerr << "corvale-server: the database says: " << message << '\n';
}

std::vector<std::string> PgConnection::TakeWarnings() {
    return std::exchange(warnings_, {});
}

PgConnection::~PgConnection() {
    PQfinish(conn_);
}

bool PgConnection::IsOk() const {
    return !broken_ && PQstatus(conn_) == CONNECTION_OK;
}

int PgConnection::BackendPid() const {
    return PQbackendPID(conn_);
}

PgResult PgConnection::Checked(pg_result* raw, const std::string& sql) {
    PgResult result(raw);
    const ExecStatusType status = PQresultStatus(raw);
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
        return result;
    }
    const char* state = PQresultErrorField(raw, PG_DIAG_SQLSTATE);
    std::string message = raw != nullptr ? Trimmed(PQresultErrorMessage(raw)) : std::string();
    if (message.empty()) {
        message = broken_ ? "the database did not answer, not even a cancel"
                          : Trimmed(PQerrorMessage(conn_));
    }
    // The command's first words say which one failed, without the values of its parameters.
    throw PgError(message + " (in: " + sql.substr(0, 60) + ")", state != nullptr ? state : "");
}

PgResult PgConnection::Execute(const std::string& sql) {
    if (broken_ || PQsendQuery(conn_, sql.c_str()) == 0) {
        return Checked(nullptr, sql);
    }
    return Checked(Finish(), sql);
}

PgResult PgConnection::Query(const std::string& sql, const std::vector<PgParam>& params,
                             bool binaryResult) {
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;
    for (const PgParam& param : params) {
        values.push_back(param.IsNull() ? nullptr : param.Value().data());
        lengths.push_back(param.IsNull() ? 0 : static_cast<int>(param.Value().size()));
        formats.push_back(param.IsBinary() ? 1 : 0);
    }
    if (broken_ || PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr,
                                     values.data(), lengths.data(), formats.data(),
                                     binaryResult ? 1 : 0) == 0) {
        return Checked(nullptr, sql);
    }
    return Checked(Finish(), sql);
}

bool PgConnection::WaitReadable(std::chrono::steady_clock::time_point deadline) {
    while (true) {
        if (PQconsumeInput(conn_) == 0 || PQisBusy(conn_) == 0) {
            return true; // a failure shows in the result
        }
        int timeout = -1;
        if (commandWait_.count() > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return false;
            }
            timeout = static_cast<int>(left.count());
        }
        pollfd wait{PQsocket(conn_), POLLIN, 0};
        ::poll(&wait, 1, timeout);
    }
}

pg_result* PgConnection::Finish() {
    auto deadline = std::chrono::steady_clock::now() + commandWait_;
    bool cancelled = false;
    pg_result* kept = nullptr;
    while (true) {
        if (!WaitReadable(deadline)) {
            if (cancelled) {
                // Not even the cancel was answered: nothing more can be read on this one.
                broken_ = true;
                PQclear(kept);
                return nullptr;
            }
            // The command goes on on the server until it is told to stop; it then answers
            // with an error (or, for a COMMIT, with a warning).
            if (PGcancel* cancel = PQgetCancel(conn_)) {
                char reason[256];
                PQcancel(cancel, reason, sizeof reason);
                PQfreeCancel(cancel);
            }
            cancelled = true;
            deadline = std::chrono::steady_clock::now() + commandWait_;
            continue;
        }
        pg_result* next = PQgetResult(conn_);
        if (next == nullptr) {
            return kept;
        }
        if (kept == nullptr || PQresultStatus(kept) != PGRES_FATAL_ERROR) {
            PQclear(kept);
            kept = next;
        } else {
            PQclear(next); // the first failure is the one to tell
        }
    }
}

int PgConnection::Socket() const {
    return PQsocket(conn_);
}

std::vector<PgNotification> PgConnection::TakeNotifications() {
    if (PQconsumeInput(conn_) == 0) {
        throw PgError("the database connection was lost: " + Trimmed(PQerrorMessage(conn_)));
    }
    std::vector<PgNotification> notifications;
    while (PGnotify* notify = PQnotifies(conn_)) {
        notifications.push_back({notify->relname, notify->extra, notify->be_pid});
        PQfreemem(notify);
    }
    return notifications;
}

PgTransaction::PgTransaction(PgConnection& connection) : connection_(connection) {
    connection_.Execute("BEGIN");
}

PgTransaction::~PgTransaction() {
    if (!done_) {
        try {
            connection_.Execute("ROLLBACK");
        } catch (const PgError&) {
            // The connection is gone, and the transaction with it.
        }
    }
}

void PgTransaction::Commit() {
    done_ = true; // a failed COMMIT has ended the transaction as well
    // The server answers a COMMIT of a transaction that a failed command spoilt with a
    // rollback, and no error.
    connection_.TakeWarnings(); // the commit's own are what counts
    if (connection_.Execute("COMMIT").Tag() != "COMMIT") {
        throw PgError("the transaction was rolled back after an earlier failure");
    }
    if (const auto warnings = connection_.TakeWarnings(); !warnings.empty()) {
        throw PgUnconfirmedCommit("the commit was not confirmed: " + warnings.front());
    }
}

std::string PgQuoteIdentifier(std::string_view name) {
    std::string quoted = "\"";
    for (const char c : name) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + '"';
}

} // namespace server
