#pragma once
// The service's tests run against each storage engine: a case written once takes the engine as
// its parameter and gets a fresh database of that engine, an SQLite file in its own folder or
// a new database on the test program's one PostgreSQL server (started on first use, stopped
// when the program ends).

#include "server/StorageEngine.h"
#include "tests/server/TestPostgres.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

enum class EngineKind { Sqlite, Postgres };

inline const auto kEveryEngine = ::testing::Values(EngineKind::Sqlite, EngineKind::Postgres);
// The engines that can be tested here: PostgreSQL only where its server is installed (the
// case Engines.PostgresCanBeTestedHere says why when it is not).
std::vector<EngineKind> AvailableEngines();
// "Sqlite" or "Postgres", for the names of the cases.
std::string EngineName(const ::testing::TestParamInfo<EngineKind>& info);

// Why the engine cannot be tested here, or empty text.
std::string EngineMissingReason(EngineKind kind);

// The name of a fresh database of the engine, as --db takes it: a file in `folder`, or a new
// database on the shared server. Throws std::runtime_error when it cannot be made.
std::string NewDatabase(EngineKind kind, const TempFolder& folder);

// The shared server (started when first asked for).
TestPostgres& SharedPostgres();

// Opens `db` through the service's own choice of engine, at the lowest hashing cost; throws
// std::runtime_error when it cannot.
std::unique_ptr<server::StorageEngine> OpenForTests(const std::string& db);

} // namespace testing_support
