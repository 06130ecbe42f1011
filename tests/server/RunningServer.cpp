#include "tests/server/RunningServer.h"

#include "core/uCfg.h"
#include "core/uTools.h"
#include "tests/support/RawLoopbackClient.h"
#include "tests/support/Wait.h"
#include "util/uBase64.h"

#include <chrono>
#include <stdexcept>

namespace testing_support {

server::ProductVersion ClientVersion() {
    InitCfg();
    const TProduct& p = Cfg.Product;
    return {p.Major, p.Minor, p.Release, p.Build};
}

ServerSetup RunningServer::DefaultSetup() {
    ServerSetup setup;
    setup.Offer.DefaultVersion = ClientVersion();
    setup.FrontEnd.Threads = 8;
    return setup;
}

ServerSetup RunningServer::SetupFor(EngineKind engine) {
    ServerSetup setup = DefaultSetup();
    setup.Engine = engine;
    return setup;
}

RunningServer::RunningServer(ServerSetup setup)
    : databasePath_(setup.Database.empty() ? NewDatabase(setup.Engine, folder_) : setup.Database) {
    // The least hashing cost: tests make many accounts; the service's own cost is tested apart.
    storage_ = OpenForTests(databasePath_);
    actions_ = std::make_unique<server::ServiceActions>(
        *storage_, setup.Offer, [this] { return now_.load(); }, setup.Logins);
    actions_->CountInto(setup.FrontEnd.Counted);
    frontEnd_ = std::make_unique<server::HttpFrontEnd>(*storage_, *actions_, setup.FrontEnd);
    port_ = frontEnd_->Bind(setup.Host, 0);
    if (port_ == 0) {
        throw std::runtime_error("cannot bind the test server");
    }
    if (!setup.TlsCertificate.empty()) {
        const auto used = frontEnd_->UseCertificate(setup.TlsCertificate, setup.TlsKey);
        if (!used || (securePort_ = frontEnd_->Bind(setup.Host, 0, true)) == 0) {
            throw std::runtime_error("cannot serve HTTPS in the test server: " +
                                     (used ? std::string() : used.Failure().Message));
        }
    }
    frontEnd_->Start();
    SetServiceEndpoint({"127.0.0.1", port_});
}

RunningServer::~RunningServer() {
    frontEnd_->Stop();
}

void RunningServer::AddAccount(const std::string& userId, const std::string& typedPassword) {
    const auto created = storage_->CreateAccount(userId, ScramblePassword(typedPassword), now_);
    if (!created || *created != server::CreateResult::Created) {
        throw std::runtime_error("account exists: " + userId);
    }
}

std::string Call(std::string_view action, std::initializer_list<TQueryPair> keys) {
    return ServiceCall(ServiceRequestUrl(action, keys));
}

std::string RawExchange(std::uint16_t port, const std::string& request) {
    using namespace std::chrono_literals;
    return testing_support::ExchangeOnLoopback(port, request, testing_support::Scaled(10s));
}

} // namespace testing_support
