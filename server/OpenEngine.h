#pragma once
// Which storage engine a database name chooses: a postgresql:// (or postgres://) URI opens the
// PostgreSQL engine, with libpq's environment (PGHOST, PGPASSWORD...), password file and
// service file (?service=NAME) for what the URI leaves out, so no password need be on the
// command line; anything else is the file of the SQLite engine.

#include "server/PasswordHash.h"
#include "server/Result.h"
#include "server/StorageEngine.h"

#include <memory>
#include <string>

namespace server {

bool NamesPostgresDatabase(const std::string& db);

// Opens (creating or bringing up to date) the database `db` names. Unavailable when it
// cannot.
Result<std::unique_ptr<StorageEngine>> OpenStorageEngine(const std::string& db,
                                                         HashCost cost = InteractiveCost());

} // namespace server
