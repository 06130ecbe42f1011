#pragma once
// A TCP socket on a free port of 127.0.0.1, closed with the object: the listening end of every
// loopback peer the tests and benchmarks start.

#include <cstdint>

namespace testing_support {

class LoopbackSocket {
public:
    // Listening, with room for `backlog` connections not yet accepted. Throws
    // std::runtime_error when no port can be had.
    explicit LoopbackSocket(int backlog = 64);
    ~LoopbackSocket();
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    int Fd() const { return fd_; }
    std::uint16_t Port() const { return port_; }
    // Makes a thread blocked in accept on this socket return with an error, now and from now on.
    void StopAccepting();

    // A port on 127.0.0.1 on which nothing listens: it was bound, never listened on, and let go.
    static std::uint16_t UnusedPort();

private:
    struct BoundOnly {};
    explicit LoopbackSocket(BoundOnly);

    int fd_ = -1;
    std::uint16_t port_ = 0;
};

} // namespace testing_support
