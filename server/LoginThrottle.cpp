#include "server/LoginThrottle.h"

#include "util/AsciiCase.h"

#include <algorithm>

namespace server {

namespace {

std::string AccountKeyOf(std::string_view userId) {
    return "a:" + AsciiLower(userId); // user IDs compare without regard to ASCII case
}

std::string AddressKeyOf(std::string_view address) {
    return "p:" + std::string(address);
}

} // namespace

LoginThrottle::LoginThrottle(LoginLimits limits) : limits_(limits) {}

double LoginThrottle::LevelNow(const std::string& key, const ThrottleLimit& limit,
                               Clock::time_point now) {
    const auto found = buckets_.find(key);
    if (found == buckets_.end()) {
        return 0;
    }
    const Bucket& bucket = found->second;
    const double drained = std::chrono::duration<double>(now - bucket.Updated) /
                           std::chrono::duration<double>(limit.DrainEach);
    return std::max(0.0, bucket.Level - drained);
}

void LoginThrottle::Fill(const std::string& key, const ThrottleLimit& limit,
                         Clock::time_point now) {
    const double level = LevelNow(key, limit, now);
    if (!buckets_.count(key)) {
        MakeRoom(now);
    }
    buckets_[key] = Bucket{level + 1, now};
}

// Drops the buckets that have drained; when all are still filling, the emptiest ones go.
void LoginThrottle::MakeRoom(Clock::time_point now) {
    if (buckets_.size() < limits_.MaxKeys) {
        return;
    }
    for (auto it = buckets_.begin(); it != buckets_.end();) {
        const ThrottleLimit& limit = it->first[0] == 'a' ? limits_.PerAccount : limits_.PerAddress;
        it = LevelNow(it->first, limit, now) <= 0 ? buckets_.erase(it) : std::next(it);
    }
    while (buckets_.size() >= limits_.MaxKeys) {
        const auto oldest =
            std::min_element(buckets_.begin(), buckets_.end(), [](const auto& a, const auto& b) {
                return a.second.Updated < b.second.Updated;
            });
        buckets_.erase(oldest);
    }
}

bool LoginThrottle::MayTry(std::string_view account, std::string_view address,
                           Clock::time_point now) {
    std::lock_guard lock(mutex_);
    // One more failure must still fit into the bucket.
    return LevelNow(AccountKeyOf(account), limits_.PerAccount, now) + 1 <=
               limits_.PerAccount.Burst &&
           LevelNow(AddressKeyOf(address), limits_.PerAddress, now) + 1 <= limits_.PerAddress.Burst;
}

void LoginThrottle::RecordFailure(std::string_view account, std::string_view address,
                                  Clock::time_point now) {
    std::lock_guard lock(mutex_);
    Fill(AccountKeyOf(account), limits_.PerAccount, now);
    Fill(AddressKeyOf(address), limits_.PerAddress, now);
}

} // namespace server
