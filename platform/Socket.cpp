#include "platform/Socket.h"

#include <algorithm>
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

bool WaitUntilReady(int fd, short events, Deadline deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        // poll takes an int of milliseconds; a longer wait is taken in parts.
        const int waitMs = static_cast<int>(std::min<long long>(left.count(), 1'000'000));
        pollfd entry{fd, events, 0};
        const int ready = poll(&entry, 1, waitMs);
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return true; // let the next call on the socket report the failure
        }
    }
}

bool SendAllBy(int fd, std::string_view bytes, Deadline deadline) {
    while (!bytes.empty()) {
        const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitUntilReady(fd, POLLOUT, deadline)) {
                return false; // the peer took nothing more in time
            }
        } else if (!(sent < 0 && errno == EINTR)) {
            return false;
        }
    }
    return true;
}

namespace {

Deadline After(std::chrono::milliseconds timeout) {
    return std::chrono::steady_clock::now() + timeout;
}

} // namespace

std::optional<TcpConnection> TcpConnection::Connect(std::uint32_t address, std::uint16_t port,
                                                    Deadline deadline) {
    // Non-blocking throughout: every wait is a poll bounded by its deadline.
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return std::nullopt;
    }
    TcpConnection connection(fd, Timeout{0});
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = address;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
        return connection;
    }
    if (errno != EINPROGRESS && errno != EINTR) {
        return std::nullopt; // refused or unreachable at once
    }
    if (!WaitUntilReady(fd, POLLOUT, deadline)) {
        return std::nullopt; // not done in time
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        return std::nullopt;
    }
    return connection;
}

std::optional<TcpConnection> TcpConnection::Connect(std::uint32_t address, std::uint16_t port,
                                                    Timeout timeout) {
    auto connection = Connect(address, port, After(timeout));
    if (connection) {
        connection->waitLimit_ = timeout;
    }
    return connection;
}

TcpConnection::TcpConnection(TcpConnection&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), waitLimit_(other.waitLimit_) {}

TcpConnection& TcpConnection::operator=(TcpConnection&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
        waitLimit_ = other.waitLimit_;
    }
    return *this;
}

TcpConnection::~TcpConnection() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool TcpConnection::SendAll(std::string_view bytes, Deadline deadline) {
    return SendAllBy(fd_, bytes, deadline);
}

ReadResult TcpConnection::Receive(char* buffer, std::size_t capacity, Deadline deadline) {
    for (;;) {
        const ssize_t n = recv(fd_, buffer, capacity, 0);
        if (n > 0) {
            return {ReadStatus::Data, static_cast<std::size_t>(n)};
        }
        if (n == 0) {
            return {ReadStatus::Closed, 0};
        }
        switch (errno) {
        case EINTR:
            continue;
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
            if (!WaitUntilReady(fd_, POLLIN, deadline)) {
                return {ReadStatus::TimedOut, 0};
            }
            continue;
        case ECONNRESET:
            return {ReadStatus::Reset, 0};
        default:
            return {ReadStatus::Failed, 0};
        }
    }
}

bool TcpConnection::SendAll(std::string_view bytes) {
    return SendAll(bytes, After(waitLimit_));
}

ReadResult TcpConnection::Read(char* buffer, std::size_t capacity) {
    return Receive(buffer, capacity, After(waitLimit_));
}

} // namespace platform
