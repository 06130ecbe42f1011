#pragma once
// The service's liveness towards its manager: on a thread of its own it asks every part that
// must keep moving (each I/O loop, the report writer) whether it has shown progress since the
// last round, and says "alive" only when every one has; a hung part thus gets the service
// restarted. The same rounds send a short status line now and then.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace server {

// Requests in the last minute from a running total sampled now and then.
class RequestRate {
public:
    using Clock = std::chrono::steady_clock;
    void Sample(Clock::time_point now, std::uint64_t total);
    // Served in the minute before the last sample (or since the first sample, when younger).
    std::uint64_t PerMinute() const;

private:
    std::deque<std::pair<Clock::time_point, std::uint64_t>> samples_;
};

struct WatchdogSetup {
    // True when that part has shown progress since the previous call.
    std::vector<std::function<bool()>> Parts;
    std::function<void()> Alive;             // every round in which every part moved
    std::chrono::milliseconds Round{500};    // between checks; none when Alive is empty
    std::function<std::string()> StatusLine; // sent at the start and every StatusEvery
    std::function<void(const std::string&)> SendStatus;
    std::chrono::milliseconds StatusEvery{5000};
};

class Watchdog {
public:
    explicit Watchdog(WatchdogSetup setup);
    // Ends the thread; no message is sent after it returns.
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    void Rounds();
    bool EveryPartMoved();

    WatchdogSetup setup_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_; // last: starts once everything it uses is there
};

} // namespace server
