#include "platform/LocalMessages.h"

#include "platform/RuntimeDir.h"
#include "platform/Socket.h"
#include "util/AsciiCase.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::uint32_t kFirstRegisteredMessage = 0xC000;
constexpr std::uint32_t kRegisteredMessageCount = 0x4000;

// FNV-1a over the lower-case name: stable across processes and builds.
std::uint32_t NameHash(std::string_view name) {
    std::uint32_t hash = 2166136261u;
    for (const char c : name) {
        hash ^= static_cast<unsigned char>(AsciiLower(c));
        hash *= 16777619u;
    }
    return hash;
}

template <typename T> std::optional<T> WholeNumber(std::string_view text, int base) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

bool IsDecimal(std::string_view text) {
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return !text.empty();
}

// Closes the descriptor on every path out of SendLocalMessage.
class SocketFd {
public:
    explicit SocketFd(int fd) : fd_(fd) {}
    ~SocketFd() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    SocketFd(const SocketFd&) = delete;
    SocketFd& operator=(const SocketFd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

using Clock = std::chrono::steady_clock;

bool ConnectUnix(int fd, const std::string& path, Clock::time_point deadline) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return true;
    }
    if (errno != EINPROGRESS && errno != EAGAIN) {
        return false;
    }
    if (!WaitUntilReady(fd, POLLOUT, deadline)) {
        return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

// Reads up to the first line feed (kept), or until the peer closes.
std::string ReceiveLine(int fd, Clock::time_point deadline) {
    std::string line;
    char buffer[64];
    while (line.find('\n') == std::string::npos && line.size() < 64) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            line.append(buffer, static_cast<std::size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!WaitUntilReady(fd, POLLIN, deadline)) {
                break;
            }
        } else {
            break;
        }
    }
    const auto end = line.find('\n');
    return end == std::string::npos ? line : line.substr(0, end + 1);
}

} // namespace

std::uint32_t RegisterWindowMessage(std::string_view name) {
    return kFirstRegisteredMessage + NameHash(name) % kRegisteredMessageCount;
}

std::string LocalMessageSocketPath(std::string_view name, const std::string& folder) {
    return folder.empty() ? std::string() : folder + std::string(name);
}

std::string LocalMessageSocketPath(std::string_view name) {
    return LocalMessageSocketPath(name, UserRuntimeDir());
}

std::optional<std::uint32_t> MessageNumberFromText(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        return WholeNumber<std::uint32_t>(text.substr(2), 16);
    }
    if (IsDecimal(text)) {
        return WholeNumber<std::uint32_t>(text, 10);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    return RegisterWindowMessage(text);
}

std::string FormatMessageRequest(std::uint32_t message) {
    return std::to_string(message) + '\n';
}

std::optional<std::uint32_t> ParseMessageRequest(std::string_view line) {
    if (line.empty() || line.back() != '\n') {
        return std::nullopt;
    }
    line.remove_suffix(1);
    if (!IsDecimal(line) || line.size() > 10) {
        return std::nullopt;
    }
    return WholeNumber<std::uint32_t>(line, 10);
}

std::string FormatMessageReply(std::int64_t result) {
    return std::to_string(result) + '\n';
}

std::optional<std::int64_t> ParseMessageReply(std::string_view line) {
    if (line.empty() || line.back() != '\n') {
        return std::nullopt;
    }
    line.remove_suffix(1);
    return WholeNumber<std::int64_t>(line, 10);
}

std::optional<std::int64_t> SendLocalMessage(const std::string& path, std::uint32_t message,
                                             std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    SocketFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.get() < 0 || !ConnectUnix(fd.get(), path, deadline) ||
        !SendAllBy(fd.get(), FormatMessageRequest(message), deadline)) {
        return std::nullopt;
    }
    return ParseMessageReply(ReceiveLine(fd.get(), deadline));
}

} // namespace platform
