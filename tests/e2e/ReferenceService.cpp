#include "ReferenceService.h"

#include "tests/support/TempFolder.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {} // namespace

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
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return {};
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(Port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        const std::string request =
            "GET /bin/corvale/cmd.php?" + query + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
            char buffer[1024];
            for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
                reply.append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    close(fd);
    const auto body = reply.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : reply.substr(body + 4);
}
