#include "platform/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
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

std::optional<TcpConnection> TcpConnection::Connect(std::uint32_t address, std::uint16_t port,
                                                    Timeout timeout) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return std::nullopt;
    }
    TcpConnection connection(fd);
    // A blocking socket with kernel time limits costs no extra system call per read. On this
    // system the send limit also bounds connect().
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    limit.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    if (setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) {
        return std::nullopt;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = address;
    while (connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        if (errno != EINTR) {
            return std::nullopt; // refused, unreachable, or EINPROGRESS after the time limit
        }
    }
    return connection;
}

TcpConnection::TcpConnection(TcpConnection&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

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

bool TcpConnection::SendAll(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        } else if (!(sent < 0 && errno == EINTR)) {
            return false; // failed, or nothing taken within the time limit
        }
    }
    return true;
}

ReadResult TcpConnection::Read(char* buffer, std::size_t capacity) {
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
        case ECONNRESET:
            return {ReadStatus::Reset, 0};
        case EAGAIN:
            return {ReadStatus::TimedOut, 0};
        default:
            return {ReadStatus::Failed, 0};
        }
    }
}

} // namespace platform
