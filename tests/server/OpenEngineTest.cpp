// Which engine a database's name chooses, and libpq's own conventions for what a PostgreSQL
// address leaves out.

#include "server/OpenEngine.h"

#include "server/PgStorage.h"
#include "server/Storage.h"
#include "tests/server/TestEngines.h"
#include "tests/support/ScopedEnv.h"

#include <gtest/gtest.h>

namespace {

using namespace server;
using testing_support::SharedPostgres;
using testing_support::TestPostgres;

TEST(OpenEngine, APostgresAddressChoosesPostgresAndAnythingElseIsAnSqliteFile) {
    if (const auto missing = TestPostgres::MissingReason(); !missing.empty()) {
        GTEST_SKIP() << missing;
    }
    testing_support::TempFolder folder;
    const std::string db =
        testing_support::NewDatabase(testing_support::EngineKind::Postgres, folder);
    const std::string rest = db.substr(std::string("postgresql://").size());
    struct Case {
        std::string Name;
        bool Postgres;
    };
    for (const Case& c : std::vector<Case>{{db, true},
                                           {"postgres://" + rest, true},
                                           {folder / "postgresql.db", false},
                                           {folder / "postgresql:", false}}) {
        EXPECT_EQ(NamesPostgresDatabase(c.Name), c.Postgres) << c.Name;
        const auto opened = OpenStorageEngine(c.Name, LowestCostForTests());
        ASSERT_TRUE(opened) << c.Name << ": " << opened.Failure().Message;
        EXPECT_EQ(dynamic_cast<PgStorage*>(opened->get()) != nullptr, c.Postgres) << c.Name;
        EXPECT_EQ(dynamic_cast<Storage*>(opened->get()) != nullptr, !c.Postgres) << c.Name;
    }
}

TEST(OpenEngine, WhatTheAddressLeavesOutComesFromTheEnvironmentOrTheServiceFile) {
    if (const auto missing = TestPostgres::MissingReason(); !missing.empty()) {
        GTEST_SKIP() << missing;
    }
    testing_support::TempFolder folder;
    NewDatabase(testing_support::EngineKind::Postgres, folder); // the server runs
    TestPostgres& postgres = SharedPostgres();
    {
        testing_support::ScopedEnv host("PGHOST", postgres.SocketFolder());
        testing_support::ScopedEnv port("PGPORT", std::to_string(TestPostgres::kPort));
        testing_support::ScopedEnv user("PGUSER", std::string(TestPostgres::kUser));
        const auto opened = OpenStorageEngine("postgresql:///corvale", LowestCostForTests());
        EXPECT_TRUE(opened) << opened.Failure().Message;
    }
    const std::string services = folder / "services.conf";
    testing_support::WriteFile(services, "[corvale]\nhost=" + postgres.SocketFolder() +
                                             "\nport=" + std::to_string(TestPostgres::kPort) +
                                             "\nuser=" + TestPostgres::kUser +
                                             "\ndbname=corvale\n");
    testing_support::ScopedEnv file("PGSERVICEFILE", services);
    const auto opened = OpenStorageEngine("postgresql://?service=corvale", LowestCostForTests());
    EXPECT_TRUE(opened) << opened.Failure().Message;
    const auto unknown = OpenStorageEngine("postgresql://?service=other", LowestCostForTests());
    ASSERT_FALSE(unknown);
    EXPECT_EQ(unknown.Failure().Kind, ErrorKind::Unavailable);
}

// The service's suites run on PostgreSQL only where it is installed; this says so when not.
TEST(Engines, PostgresCanBeTestedHere) {
    if (const auto missing = TestPostgres::MissingReason(); !missing.empty()) {
        GTEST_SKIP() << missing;
    }
    EXPECT_EQ(testing_support::AvailableEngines().size(), 2u);
}

} // namespace
