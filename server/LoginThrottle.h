#pragma once
// Failed logins, counted per account and per client address, so that guessing passwords is
// slow and a flood of wrong ones cannot keep the service busy hashing. Each key has a bucket
// that fills by one per failure and drains at a steady rate; a full bucket refuses further
// checks until it has drained a little. Memory is bounded: at most `maxKeys` buckets are kept.

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace server {

struct ThrottleLimit {
    int Burst = 10;                            // failures in a row before refusals begin
    std::chrono::milliseconds DrainEach{6000}; // one failure forgotten per this much time
};

struct LoginLimits {
    ThrottleLimit PerAccount{10, std::chrono::milliseconds(6000)}; // 10 a minute at length
    ThrottleLimit PerAddress{30, std::chrono::milliseconds(2000)}; // 30 a minute at length
    std::size_t MaxKeys = 20000;
};

class LoginThrottle {
public:
    using Clock = std::chrono::steady_clock;

    explicit LoginThrottle(LoginLimits limits);

    // False while either bucket is full: the login is refused without being checked.
    bool MayTry(std::string_view account, std::string_view address, Clock::time_point now);
    void RecordFailure(std::string_view account, std::string_view address, Clock::time_point now);

private:
    struct Bucket {
        double Level = 0;
        Clock::time_point Updated;
    };

    double LevelNow(const std::string& key, const ThrottleLimit& limit, Clock::time_point now);
    void Fill(const std::string& key, const ThrottleLimit& limit, Clock::time_point now);
    void MakeRoom(Clock::time_point now);

    LoginLimits limits_;
    std::mutex mutex_;
    std::unordered_map<std::string, Bucket> buckets_;
};

} // namespace server
