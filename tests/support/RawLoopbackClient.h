#pragma once
// A plain TCP connection to a port on the loopback that sends and reads bytes as they stand, for
// tests and benchmarks that speak to a peer on the wire without the client's transport.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace testing_support {

class RawLoopbackClient {
public:
    // Connects to `port` of `to` ("127.0.0.1" or "::1"); from the IPv4 loopback address `from`
    // when one is given, as another client on the same machine would.
    explicit RawLoopbackClient(std::uint16_t port, std::string_view to = "127.0.0.1",
                               std::string_view from = {});
    ~RawLoopbackClient();
    RawLoopbackClient(const RawLoopbackClient&) = delete;
    RawLoopbackClient& operator=(const RawLoopbackClient&) = delete;

    bool Connected() const { return connected_; }
    // The socket, for a layer that speaks through it (a TLS session); the client still owns it.
    int Fd() const { return fd_; }

    // All of `bytes` in one call; false when they did not all go.
    bool Send(std::string_view bytes);

    // At most `most` bytes, waiting up to `wait` for the first of them; empty at the peer's
    // close, on a reset or when the wait ends.
    std::string ReadSome(std::size_t most, std::chrono::milliseconds wait);

    struct Received {
        std::string bytes;
        bool closed = false; // the peer closed (or reset) the connection within the wait
    };
    // Everything until the peer closes, waiting `wait` in all.
    Received ReadUntilClose(std::chrono::milliseconds wait);

    // Everything until the peer closes, however long that takes, with no system call but the
    // reads: the least a client can do, for a benchmark's baseline.
    std::string ReadToClose();

private:
    int fd_ = -1;
    bool connected_ = false;
};

// Sends `request` on a new connection to `port` of 127.0.0.1 and returns everything until the
// peer closed; empty when it did not close within `wait`.
std::string ExchangeOnLoopback(std::uint16_t port, std::string_view request,
                               std::chrono::milliseconds wait);

} // namespace testing_support
