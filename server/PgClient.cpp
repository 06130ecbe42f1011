#include "server/PgClient.h"

#include <charconv>
#include <libpq-fe.h>

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

PgConnection::PgConnection(const std::string& conninfo) : conn_(PQconnectdb(conninfo.c_str())) {
    if (conn_ == nullptr) {
        throw PgError("cannot connect to the database: out of memory");
    }
    if (PQstatus(conn_) != CONNECTION_OK) {
        const std::string message = Trimmed(PQerrorMessage(conn_));
        PQfinish(conn_);
        conn_ = nullptr;
        throw PgError("cannot connect to the database: " + message);
    }
}

PgConnection::~PgConnection() {
    PQfinish(conn_);
}

bool PgConnection::IsOk() const {
    return PQstatus(conn_) == CONNECTION_OK;
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
        message = Trimmed(PQerrorMessage(conn_));
    }
    // The command's first words say which one failed, without the values of its parameters.
    throw PgError(message + " (in: " + sql.substr(0, 60) + ")", state != nullptr ? state : "");
}

PgResult PgConnection::Execute(const std::string& sql) {
    return Checked(PQexec(conn_, sql.c_str()), sql);
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
    return Checked(PQexecParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr,
                                values.data(), lengths.data(), formats.data(),
                                binaryResult ? 1 : 0),
                   sql);
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
    if (connection_.Execute("COMMIT").Tag() != "COMMIT") {
        throw PgError("the transaction was rolled back after an earlier failure");
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
