#pragma once
// The reference service running in the test process on 127.0.0.1 with a database of its own
// in a fresh temporary folder, and the client's service endpoint pointed at it.

#include "core/uEndpoint.h"
#include "server/HttpFrontEnd.h"
#include "server/ServiceActions.h"
#include "server/Storage.h"
#include "tests/server/TestEngines.h"
#include "tests/support/TempFolder.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace testing_support {

struct ServerSetup {
    server::UpdateOffer Offer;
    server::FrontEndOptions FrontEnd;
    server::AuthenticatorOptions Logins;
    std::string Host = "127.0.0.1"; // where to listen; the client always comes from 127.0.0.1
    // PEM text: when given, a second socket beside the plain one serves HTTPS.
    std::string TlsCertificate;
    std::string TlsKey;
    // The engine of a fresh database, or the name of one to share with another instance.
    EngineKind Engine = EngineKind::Sqlite;
    std::string Database;
};

// The client's own product version (InitCfg's record).
server::ProductVersion ClientVersion();

class RunningServer {
public:
    explicit RunningServer(ServerSetup setup = DefaultSetup());
    ~RunningServer();

    static ServerSetup DefaultSetup();
    static ServerSetup SetupFor(EngineKind engine);

    std::uint16_t Port() const { return port_; }
    std::uint16_t SecurePort() const { return securePort_; } // 0 without a certificate
    server::StorageEngine& Storage() { return *storage_; }
    server::ServiceActions& Actions() { return *actions_; }
    server::HttpFrontEnd& FrontEnd() { return *frontEnd_; }
    // The database as --db names it: the SQLite file, or the PostgreSQL address.
    const std::string& DatabasePath() const { return databasePath_; }
    testing_support::TempFolder& Folder() { return folder_; }

    // The time the service records from now on (seconds since 1970, UTC).
    void SetNow(server::UnixTime now) { now_ = now; }

    // Creates an account with the stored form of `typedPassword`.
    void AddAccount(const std::string& userId, const std::string& typedPassword);

private:
    testing_support::TempFolder folder_;
    std::string databasePath_;
    std::atomic<server::UnixTime> now_{1'700'000'000};
    std::unique_ptr<server::StorageEngine> storage_;
    std::unique_ptr<server::ServiceActions> actions_;
    std::unique_ptr<server::HttpFrontEnd> frontEnd_;
    std::uint16_t port_ = 0;
    std::uint16_t securePort_ = 0;
};

// One service call made by the client's own transport.
std::string Call(std::string_view action, std::initializer_list<TQueryPair> keys = {});

// Sends `request` as it stands and returns everything the server sent until it closed
// (empty after a wait of 10 seconds, scaled, with no close).
std::string RawExchange(std::uint16_t port, const std::string& request);

} // namespace testing_support
