#pragma once
// An IPv4 TCP client whose every wait is bounded, standing in for the system socket library.
// Start-up and release of a socket library do not exist here.

#include "platform/ByteStream.h"

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

// Waits until `fd` is ready for `events` (poll events) or `deadline` passes; true when ready
// (an error or hang-up on the socket counts as ready: the next call reports it).
bool WaitUntilReady(int fd, short events, Deadline deadline);

// Sends every byte of `bytes` over the non-blocking socket `fd`, waiting for room until
// `deadline`; false when the peer has not taken them all by then or the socket failed.
bool SendAllBy(int fd, std::string_view bytes, Deadline deadline);

class TcpConnection final : public ByteStream {
public:
    using Timeout = std::chrono::milliseconds;

    // Connects to `address` (network byte order) and `port`; none when refused, unreachable
    // or not done by `deadline`.
    static std::optional<TcpConnection> Connect(std::uint32_t address, std::uint16_t port,
                                                Deadline deadline);
    // The same within `timeout`; the same limit then bounds each wait of SendAll and Read.
    static std::optional<TcpConnection> Connect(std::uint32_t address, std::uint16_t port,
                                                Timeout timeout);

    TcpConnection(TcpConnection&& other) noexcept;
    TcpConnection& operator=(TcpConnection&& other) noexcept;
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;
    ~TcpConnection() override;

    bool SendAll(std::string_view bytes, Deadline deadline) override;
    ReadResult Receive(char* buffer, std::size_t capacity, Deadline deadline) override;

    // SendAll and Receive, each wait bounded by the time limit given to Connect (none for a
    // connection made with a deadline: use the calls above).
    bool SendAll(std::string_view bytes);
    ReadResult Read(char* buffer, std::size_t capacity);

    // The socket itself, for a stream layered on this connection; it stays owned here.
    int Handle() const { return fd_; }

private:
    TcpConnection(int fd, Timeout waitLimit) : fd_(fd), waitLimit_(waitLimit) {}
    int fd_ = -1;
    Timeout waitLimit_{0};
};

} // namespace platform
