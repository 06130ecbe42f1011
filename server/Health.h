#pragma once
// Whether the service is alive and whether it is ready. Alive needs nothing: a process that
// answers is. Ready means the database accepts a write now, which only a real write can tell;
// so the write is made at most once in a while and its outcome kept for the probes between.

#include "server/Result.h"
#include "server/StorageEngine.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>

namespace server {

inline constexpr std::string_view kHealthPath = "/healthz";
inline constexpr std::string_view kReadinessPath = "/readyz";

// Whether a request target (its path, whatever its query) is one of the probes: cheap, never
// logged, never refused for the connections of its address.
bool IsProbeTarget(std::string_view target);

class Readiness {
public:
    using Clock = std::chrono::steady_clock;

    // `keep`: how long a check's outcome stands before the next probe checks again.
    explicit Readiness(StorageEngine& storage, Clock::duration keep = std::chrono::seconds(1),
                       std::function<Clock::time_point()> now = Clock::now);

    // Nothing when the database accepts a write, else why not. Probes that come while one
    // checks wait for that check and take its outcome.
    Result<void> Check();

private:
    StorageEngine& storage_;
    const Clock::duration keep_;
    const std::function<Clock::time_point()> now_;
    std::mutex mutex_;
    std::optional<Clock::time_point> checkedAt_;
    Result<void> last_;
};

} // namespace server
