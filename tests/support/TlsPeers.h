#pragma once
// Peers on 127.0.0.1 for the client's encrypted connections: a TLS server that records each
// decrypted request and answers with a fixed reply, and a TCP peer that answers a client's
// first bytes with whatever the test gives it (or with nothing at all).

#include "tests/support/LoopbackSocket.h"
#include "tests/support/TestCertificates.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

// Accepts connections one after another on its own thread until destroyed.
class LoopbackAcceptor {
public:
    LoopbackAcceptor();
    virtual ~LoopbackAcceptor();
    LoopbackAcceptor(const LoopbackAcceptor&) = delete;
    LoopbackAcceptor& operator=(const LoopbackAcceptor&) = delete;
    std::uint16_t Port() const { return listener_.Port(); }

protected:
    void Start();
    void Stop();
    virtual void Serve(int fd) = 0;
    bool Stopping() const;

private:
    void AcceptLoop();
    LoopbackSocket listener_;
    mutable std::mutex mutex_;
    bool stopping_ = false;
    std::vector<int> openFds_;
    std::vector<std::thread> workers_;
    std::thread acceptThread_;
};

struct TlsPeerOptions {
    // Protocol versions the peer accepts, as OpenSSL's version numbers; 0 leaves the default.
    int minVersion = 0;
    int maxVersion = 0;
    // Whether the reply ends with the TLS close message or the connection is just closed.
    bool closeMessage = true;
};

class TlsLoopbackServer final : public LoopbackAcceptor {
public:
    explicit TlsLoopbackServer(const PemPair& identity, TlsPeerOptions options = {});
    ~TlsLoopbackServer() override;

    // The raw reply, head and body, written after each request; then the peer closes.
    void SetReply(std::string reply);
    std::vector<std::string> Requests() const;
    bool WaitForRequests(std::size_t count,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    struct Context;

private:
    void Serve(int fd) override;
    std::unique_ptr<Context> context_;
    const bool closeMessage_;
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::string reply_;
    std::vector<std::string> requests_;
};

// Reads once whatever the client sends first, then sends `answer` and closes; without an
// answer it says nothing, ever, and keeps the connection open until the client goes.
class RawAnswerPeer final : public LoopbackAcceptor {
public:
    explicit RawAnswerPeer(std::optional<std::string> answer);
    ~RawAnswerPeer() override;

private:
    void Serve(int fd) override;
    std::optional<std::string> answer_;
};

} // namespace testing_support
