#include "server/Health.h"

#include <utility>

namespace server {

bool IsProbeTarget(std::string_view target) {
    const std::string_view path = target.substr(0, target.find('?'));
    return path == kHealthPath || path == kReadinessPath;
}

Readiness::Readiness(StorageEngine& storage, Clock::duration keep,
                     std::function<Clock::time_point()> now)
    : storage_(storage), keep_(keep), now_(std::move(now)) {}

Result<void> Readiness::Check() {
    std::lock_guard lock(mutex_);
    if (checkedAt_ && now_() - *checkedAt_ < keep_) {
        return last_;
    }
    last_ = storage_.CheckWritable();
    // Counted from the check's end: a slow write does not make the next probe check at once.
    checkedAt_ = now_();
    return last_;
}

} // namespace server
