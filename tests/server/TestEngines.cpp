#include "tests/server/TestEngines.h"

#include "server/OpenEngine.h"

#include <atomic>
#include <stdexcept>

namespace testing_support {

std::string EngineName(const ::testing::TestParamInfo<EngineKind>& info) {
    return info.param == EngineKind::Sqlite ? "Sqlite" : "Postgres";
}

std::vector<EngineKind> AvailableEngines() {
    std::vector<EngineKind> engines{EngineKind::Sqlite};
    if (TestPostgres::MissingReason().empty()) {
        engines.push_back(EngineKind::Postgres);
    }
    return engines;
}

std::string EngineMissingReason(EngineKind kind) {
    return kind == EngineKind::Postgres ? TestPostgres::MissingReason() : std::string();
}

TestPostgres& SharedPostgres() {
    // Destroyed, and so stopped, when the test program ends.
    static TestPostgres postgres;
    return postgres;
}

std::string NewDatabase(EngineKind kind, const TempFolder& folder) {
    if (kind == EngineKind::Sqlite) {
        return folder / "service.db";
    }
    static std::atomic<int> count{0};
    TestPostgres& postgres = SharedPostgres();
    if (!postgres.Start()) {
        throw std::runtime_error("the shared PostgreSQL server does not start:\n" + postgres.Log());
    }
    const std::string name = "service" + std::to_string(++count);
    if (!postgres.CreateDatabase(name)) {
        throw std::runtime_error("cannot create the database " + name + ":\n" + postgres.Log());
    }
    return postgres.Uri(name);
}

std::unique_ptr<server::StorageEngine> OpenForTests(const std::string& db) {
    auto opened = server::OpenStorageEngine(db, server::LowestCostForTests());
    if (!opened) {
        throw std::runtime_error("cannot open " + db + ": " + opened.Failure().Message);
    }
    return std::move(opened).Value();
}

} // namespace testing_support
