#include "server/PgCopy.h"

#include "server/OpenEngine.h"
#include "server/PgClient.h"
#include "server/Sqlite.h"

#include <optional>

namespace server {

namespace {

struct Table {
    const char* Name;
    std::vector<const char*> Columns;
    int BytesColumn = -1; // the column of raw bytes, if any
};

// In an order that keeps every reference to a row copied before.
const std::vector<Table>& Tables() {
    static const std::vector<Table> tables = {
        {"accounts", {"id", "user_id", "password", "created"}},
        {"hosts", {"number", "account", "name", "address", "reported", "client_version"}},
        {"offers", {"host", "buddy", "offered"}},
        {"settings", {"key", "value"}, 1},
    };
    return tables;
}

using Value = std::optional<std::string>; // none for NULL
using Rows = std::vector<std::vector<Value>>;

std::string ColumnList(const Table& table) {
    std::string list;
    for (const char* column : table.Columns) {
        list += (list.empty() ? "" : ", ") + std::string(column);
    }
    return list;
}

std::string Placeholders(const Table& table, char mark) {
    std::string list;
    for (std::size_t i = 1; i <= table.Columns.size(); ++i) {
        list += (i == 1 ? "" : ", ") + std::string(1, mark) + std::to_string(i);
    }
    return list;
}

// The two kinds of database behind one shape: read a table, check emptiness, write rows.
class Side {
public:
    virtual ~Side() = default;
    virtual void Begin() = 0;
    virtual void Commit() = 0;
    virtual Rows Read(const Table& table) = 0;
    virtual std::int64_t Count(const Table& table) = 0;
    virtual void Write(const Table& table, const Rows& rows) = 0;
    virtual void AfterWrite() {}
};

class SqliteSide final : public Side {
public:
    explicit SqliteSide(const std::string& path) : db_(path) {
        db_.Execute("PRAGMA busy_timeout = 5000");
    }
    void Begin() override { transaction_.emplace(db_); }
    void Commit() override { transaction_->Commit(); }
    Rows Read(const Table& table) override {
        Statement query = db_.Prepare("SELECT " + ColumnList(table) + " FROM " + table.Name);
        Rows rows;
        while (query.Step()) {
            std::vector<Value> row;
            for (int c = 0; c < static_cast<int>(table.Columns.size()); ++c) {
                row.push_back(query.IsNull(c) ? Value() : Value(query.Text(c)));
            }
            rows.push_back(std::move(row));
        }
        return rows;
    }
    std::int64_t Count(const Table& table) override {
        Statement query = db_.Prepare(std::string("SELECT count(*) FROM ") + table.Name);
        return query.Step() ? query.Int(0) : -1;
    }
    void Write(const Table& table, const Rows& rows) override {
        const std::string sql = std::string("INSERT INTO ") + table.Name + "(" + ColumnList(table) +
                                ") VALUES(" + Placeholders(table, '?') + ")";
        for (const auto& row : rows) {
            Statement insert = db_.Prepare(sql);
            for (int c = 0; c < static_cast<int>(row.size()); ++c) {
                const Value& value = row[static_cast<std::size_t>(c)];
                if (!value) {
                    insert.BindNull(c + 1);
                } else if (c == table.BytesColumn) {
                    insert.BindBlob(c + 1, *value);
                } else {
                    insert.Bind(c + 1, *value);
                }
            }
            insert.Run();
        }
    }

private:
    Database db_;
    std::optional<Transaction> transaction_;
};

class PgSide final : public Side {
public:
    explicit PgSide(const std::string& conninfo) : db_(conninfo) {
        db_.Execute("SET client_encoding = 'UTF8'");
    }
    void Begin() override {
        transaction_.emplace(db_);
        // One snapshot of the source; for the target, no other writer gets in between.
        db_.Execute("SET TRANSACTION ISOLATION LEVEL SERIALIZABLE");
    }
    void Commit() override { transaction_->Commit(); }
    Rows Read(const Table& table) override {
        // Bytes come back as they are only in binary form, which suits text as well.
        const bool binary = table.BytesColumn >= 0;
        const PgResult result =
            db_.Query("SELECT " + ColumnList(table) + " FROM " + table.Name, {}, binary);
        Rows rows;
        for (int r = 0; r < result.Rows(); ++r) {
            std::vector<Value> row;
            for (int c = 0; c < static_cast<int>(table.Columns.size()); ++c) {
                row.push_back(result.IsNull(r, c) ? Value() : Value(result.Text(r, c)));
            }
            rows.push_back(std::move(row));
        }
        return rows;
    }
    std::int64_t Count(const Table& table) override {
        return db_.Execute(std::string("SELECT count(*) FROM ") + table.Name).Int(0, 0);
    }
    void Write(const Table& table, const Rows& rows) override {
        const std::string sql = std::string("INSERT INTO ") + table.Name + "(" + ColumnList(table) +
                                ") VALUES(" + Placeholders(table, '$') + ")";
        for (const auto& row : rows) {
            std::vector<PgParam> params;
            for (int c = 0; c < static_cast<int>(row.size()); ++c) {
                const Value& value = row[static_cast<std::size_t>(c)];
                params.push_back(!value                   ? PgParam(std::nullopt)
                                 : c == table.BytesColumn ? PgParam::Bytes(*value)
                                                          : PgParam(*value));
            }
            db_.Query(sql, params);
        }
    }
    // New accounts and hosts go on after the numbers copied.
    void AfterWrite() override {
        db_.Execute("SELECT setval(pg_get_serial_sequence('accounts', 'id'), "
                    "coalesce(max(id), 0) + 1, false) FROM accounts");
        db_.Execute("SELECT setval(pg_get_serial_sequence('hosts', 'number'), "
                    "coalesce(max(number), 0) + 1, false) FROM hosts");
    }

private:
    PgConnection db_;
    std::optional<PgTransaction> transaction_;
};

std::unique_ptr<Side> SideFor(const std::string& db) {
    if (NamesPostgresDatabase(db)) {
        return std::make_unique<PgSide>(db);
    }
    return std::make_unique<SqliteSide>(db);
}

} // namespace

Result<CopyCounts> CopyDatabase(const std::string& from, const std::string& to, HashCost cost) {
    if (from == to) {
        return Refusal("the source and the target are the same database");
    }
    // Each through its engine first: the schema made or brought up to date.
    for (const std::string& db : {from, to}) {
        if (auto opened = OpenStorageEngine(db, cost); !opened) {
            return opened.Failure();
        }
    }
    try {
        const auto source = SideFor(from);
        const auto target = SideFor(to);
        source->Begin();
        target->Begin();
        for (const Table& table : Tables()) {
            if (target->Count(table) != 0) {
                return Refusal(to + " holds data already (in " + table.Name +
                               "); copy only into a new database");
            }
        }
        CopyCounts counts;
        for (const Table& table : Tables()) {
            const Rows rows = source->Read(table);
            target->Write(table, rows);
            const std::int64_t written = target->Count(table);
            if (written != static_cast<std::int64_t>(rows.size())) {
                return Unavailable(std::string("the copy of ") + table.Name + " holds " +
                                   std::to_string(written) + " rows instead of " +
                                   std::to_string(rows.size()));
            }
            counts.emplace_back(table.Name, written);
        }
        target->AfterWrite();
        target->Commit();
        source->Commit();
        return counts;
    } catch (const PgError& error) {
        return Unavailable(error.what());
    } catch (const StorageError& error) {
        return Unavailable(error.what());
    }
}

} // namespace server
