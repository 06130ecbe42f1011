#include "platform/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace platform {

std::string ResolveIPv4(const std::string& name) {
    if (name.empty()) {
        return {};
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return {};
    }
    std::string dotted;
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text)) {
        dotted = text;
    }
    freeaddrinfo(found);
    return dotted;
}

std::optional<std::uint32_t> ParseDottedAddress(const std::string& text) {
    in_addr address{};
    if (text.empty() || inet_aton(text.c_str(), &address) == 0) {
        return std::nullopt;
    }
    return address.s_addr;
}

namespace {

// Waits for `events` on `fd`; true when they arrived within the timeout.
bool WaitFor(int fd, short events, TcpConnection::Timeout timeout) {
    pollfd entry{fd, events, 0};
    for (;;) {
        const int ready = poll(&entry, 1, static_cast<int>(timeout.count()));
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

} // namespace

std::optional<TcpConnection> TcpConnection::Connect(std::uint32_t address, std::uint16_t port,
                                                    Timeout timeout) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return std::nullopt;
    }
    TcpConnection connection(fd);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = address;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        if (errno != EINPROGRESS || !WaitFor(fd, POLLOUT, timeout)) {
            return std::nullopt;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            return std::nullopt;
        }
    }
    return connection;
}

TcpConnection::TcpConnection(TcpConnection&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

TcpConnection& TcpConnection::operator=(TcpConnection&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

TcpConnection::~TcpConnection() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool TcpConnection::SendAll(std::string_view bytes, Timeout timeout) {
    while (!bytes.empty()) {
        const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFor(fd_, POLLOUT, timeout)) {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

ReadResult TcpConnection::Read(char* buffer, std::size_t capacity, Timeout timeout) {
    for (;;) {
        const ssize_t n = recv(fd_, buffer, capacity, 0);
        if (n > 0) {
            return {ReadStatus::Data, static_cast<std::size_t>(n)};
        }
        if (n == 0) {
            return {ReadStatus::Closed, 0};
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == ECONNRESET) {
            return {ReadStatus::Reset, 0};
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return {ReadStatus::Failed, 0};
        }
        if (!WaitFor(fd_, POLLIN, timeout)) {
            return {ReadStatus::TimedOut, 0};
        }
    }
}

} // namespace platform
