#include "server/OpenEngine.h"

#include "server/PgStorage.h"
#include "server/Storage.h"

namespace server {

bool NamesPostgresDatabase(const std::string& db) {
    return db.starts_with("postgresql://") || db.starts_with("postgres://");
}

namespace {

template <typename Engine>
Result<std::unique_ptr<StorageEngine>> Opened(Result<std::unique_ptr<Engine>> opened) {
    if (!opened) {
        return opened.Failure();
    }
    return std::unique_ptr<StorageEngine>(std::move(opened).Value());
}

} // namespace

Result<std::unique_ptr<StorageEngine>> OpenStorageEngine(const std::string& db, HashCost cost) {
    if (NamesPostgresDatabase(db)) {
        return Opened(PgStorage::Open(db, cost));
    }
    return Opened(Storage::Open(db, cost));
}

} // namespace server
