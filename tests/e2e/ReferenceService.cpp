#include "ReferenceService.h"

#include "tests/support/HttpText.h"
#include "tests/support/RawLoopbackClient.h"
#include "tests/support/TempFolder.h"
#include "tests/support/Wait.h"

#include <cstring>
#include <sstream>

namespace fs = std::filesystem;

TReferenceService::TReferenceService(const fs::path& folder)
    : db_((folder / "service.db").string()) {
    StoredPassword = AddAccount("demo", "demo-password");
    const fs::path log = folder / "service.log";
    process_ = std::make_unique<ChildProcess>(
        CORVALE_SERVER, std::vector<std::string>{"--db", db_, "--listen", "127.0.0.1:0"},
        testing_support::ChildSetup{.OutputFile = log.string()});
    Eventually([&] {
        const std::string text = testing_support::ReadText(log);
        const auto at = text.find("listening on 127.0.0.1:");
        if (at != std::string::npos && text.find('\n', at) != std::string::npos) {
            Port = std::atoi(text.c_str() + at + std::strlen("listening on 127.0.0.1:"));
        }
        return Port > 0;
    });
}

std::string TReferenceService::AddAccount(const std::string& user, const std::string& password) {
    RunAndRead(CORVALE_SERVER, {"--db", db_, "add-account", user, password});
    std::stringstream stored(
        RunAndRead(CORVALE_SERVER, {"--db", db_, "stored-password", password}));
    std::string line;
    std::getline(stored, line);
    return line;
}

std::string TReferenceService::Ask(const std::string& query) const {
    using namespace std::chrono_literals;
    const std::string request =
        "GET /bin/corvale/cmd.php?" + query + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    return testing_support::BodyOf(testing_support::ExchangeOnLoopback(
        static_cast<std::uint16_t>(Port), request, testing_support::Scaled(10s)));
}
