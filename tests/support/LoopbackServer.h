#pragma once
// A scripted HTTP peer on 127.0.0.1 for tests: it records each raw request and plays the
// reply that the test queued for that connection.

#include "tests/support/LoopbackSocket.h"
#include "tests/support/Wait.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

struct ScriptedReply {
    enum class Ending { Close, Reset, Hang };

    std::vector<std::string> chunks;  // sent one after another
    std::chrono::milliseconds gap{0}; // pause between chunks
    Ending ending = Ending::Close;
    std::chrono::milliseconds delayBeforeReply{0}; // pause after the request arrived
    std::uint64_t fillerBytes = 0; // this many more bytes sent after the chunks, in one go
    // Not sent before this many requests have arrived in all (overlapping clients).
    std::size_t afterRequests = 0;
    // Not sent before the test calls ReleaseHeldReplies.
    bool held = false;

    // "HTTP/1.0 200 OK", one header, a blank line, then `body`, in one piece.
    static ScriptedReply Http(const std::string& body);
    // `bytes` sent one byte at a time.
    static ScriptedReply ByteByByte(const std::string& bytes);
};

class LoopbackServer {
public:
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t Port() const { return listener_.Port(); }

    // Replies are used in order, one per connection; when none is queued, `fallback` is used.
    void Enqueue(ScriptedReply reply);
    void SetFallback(ScriptedReply reply);

    // Lets every held reply go, now and from now on.
    void ReleaseHeldReplies();

    std::vector<std::string> Requests() const;
    // Waits until at least `count` requests arrived; false on time-out.
    bool WaitForRequests(std::size_t count,
                         std::chrono::milliseconds timeout = kDefaultDeadline) const;

    // A port on 127.0.0.1 on which nothing listens.
    static std::uint16_t UnusedPort();

private:
    void AcceptLoop();
    void Serve(int fd);
    ScriptedReply NextReply();

    LoopbackSocket listener_;
    bool stopping_ = false;
    bool released_ = false;
    mutable std::mutex mutex_;
    mutable std::condition_variable requestArrived_;
    std::deque<ScriptedReply> queue_;
    ScriptedReply fallback_;
    std::vector<std::string> requests_;
    std::vector<std::thread> workers_;
    std::vector<int> openFds_;
    std::thread acceptThread_;
};

} // namespace testing_support
