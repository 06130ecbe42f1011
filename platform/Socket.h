#pragma once
// A blocking-style IPv4 TCP client with bounded waits, standing in for the system socket
// library. Start-up and release of a socket library do not exist here.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The first IPv4 address of `name` in dotted decimal form, or empty text.
std::string ResolveIPv4(const std::string& name);

// `text` as a dotted IPv4 address in network byte order, with the classic parser's rules
// ("a.b.c.d", and its shorter forms); none when it is not one.
std::optional<std::uint32_t> ParseDottedAddress(const std::string& text);

enum class ReadStatus { Data, Closed, Reset, TimedOut, Failed };

struct ReadResult {
    ReadStatus status;
    std::size_t count; // bytes read, for ReadStatus::Data
};

class TcpConnection {
public:
    using Timeout = std::chrono::milliseconds;

    // Connects to `address` (network byte order) and `port`; none when refused, unreachable
    // or not done within `timeout`. The same limit then bounds every wait of a send or read.
    static std::optional<TcpConnection> Connect(std::uint32_t address, std::uint16_t port,
                                                Timeout timeout);

    TcpConnection(TcpConnection&& other) noexcept;
    TcpConnection& operator=(TcpConnection&& other) noexcept;
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;
    ~TcpConnection();

    // Sends every byte; false on failure or when the peer takes none for the time limit.
    bool SendAll(std::string_view bytes);
    // Reads up to `capacity` bytes, waiting at most the time limit for any to arrive.
    ReadResult Read(char* buffer, std::size_t capacity);

private:
    explicit TcpConnection(int fd) : fd_(fd) {}
    int fd_ = -1;
};

} // namespace platform
