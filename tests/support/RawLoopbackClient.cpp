#include "tests/support/RawLoopbackClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_support {

namespace {

using Clock = std::chrono::steady_clock;

bool ConnectIPv4(int fd, std::uint16_t port, const std::string& to, const std::string& from) {
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    if (inet_pton(AF_INET, to.c_str(), &remote.sin_addr) != 1) {
        return false;
    }
    if (!from.empty()) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        if (inet_pton(AF_INET, from.c_str(), &local.sin_addr) != 1 ||
            bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            return false;
        }
    }
    return connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0;
}

bool ConnectIPv6(int fd, std::uint16_t port, const std::string& to) {
    sockaddr_in6 remote{};
    remote.sin6_family = AF_INET6;
    remote.sin6_port = htons(port);
    return inet_pton(AF_INET6, to.c_str(), &remote.sin6_addr) == 1 &&
           connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0;
}

} // namespace

RawLoopbackClient::RawLoopbackClient(std::uint16_t port, std::string_view to,
                                     std::string_view from) {
    const std::string remote(to);
    const bool ipv6 = remote.find(':') != std::string::npos;
    fd_ = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    connected_ = fd_ >= 0 && (ipv6 ? ConnectIPv6(fd_, port, remote)
                                   : ConnectIPv4(fd_, port, remote, std::string(from)));
}

RawLoopbackClient::~RawLoopbackClient() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool RawLoopbackClient::Send(std::string_view bytes) {
    return connected_ && send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                             static_cast<ssize_t>(bytes.size());
}

std::string RawLoopbackClient::ReadSome(std::size_t most, std::chrono::milliseconds wait) {
    pollfd entry{fd_, POLLIN, 0};
    if (!connected_ || poll(&entry, 1, static_cast<int>(wait.count())) <= 0) {
        return {};
    }
    std::string bytes(most, '\0');
    const ssize_t count = recv(fd_, bytes.data(), most, 0);
    bytes.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    return bytes;
}

RawLoopbackClient::Received RawLoopbackClient::ReadUntilClose(std::chrono::milliseconds wait) {
    Received received;
    const auto deadline = Clock::now() + wait;
    while (connected_) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd entry{fd_, POLLIN, 0};
        if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        char buffer[4096];
        const ssize_t count = recv(fd_, buffer, sizeof buffer, 0);
        if (count <= 0) {
            received.closed = true;
            break;
        }
        received.bytes.append(buffer, static_cast<std::size_t>(count));
    }
    return received;
}

std::string RawLoopbackClient::ReadToClose() {
    std::string bytes;
    char buffer[1024];
    for (ssize_t count; connected_ && (count = recv(fd_, buffer, sizeof buffer, 0)) > 0;) {
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
    return bytes;
}

std::string ExchangeOnLoopback(std::uint16_t port, std::string_view request,
                               std::chrono::milliseconds wait) {
    RawLoopbackClient client(port);
    if (!client.Send(request)) {
        return {};
    }
    RawLoopbackClient::Received received = client.ReadUntilClose(wait);
    return received.closed ? std::move(received.bytes) : std::string();
}

} // namespace testing_support
