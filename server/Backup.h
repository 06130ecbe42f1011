#pragma once
// A consistent copy of a live SQLite database, and the check that a database file is intact.
// The copy is read from one snapshot of the database while the service goes on writing (the
// write-ahead log lets writers past a reader), in steps, into a file beside the copy's name
// that replaces it only once it is complete and on disk: a failed backup leaves the last good
// copy as it was. A PostgreSQL database is refused: its own tools do both.

#include "server/Result.h"

#include <cstdint>
#include <string>
#include <vector>

namespace server {

struct BackupOptions {
    int PagesPerStep = 1024; // copied under one hold of the source connection
};

struct BackupOutcome {
    std::int64_t Pages = 0;
    std::int64_t Bytes = 0;
};

// Copies the database file `database` (which must exist) to `copy`, replacing any file there.
Result<BackupOutcome> BackupDatabase(const std::string& database, const std::string& copy,
                                     BackupOptions options = {});

// What is wrong with the database file `database`: the integrity check's findings, rows whose
// references lead nowhere, and the tables of this service that are missing. Empty when it is
// intact. Unavailable when there is no such file or it cannot be opened.
Result<std::vector<std::string>> CheckDatabase(const std::string& database);

} // namespace server
