#include "core/uClock.h"

#include "core/uDateTime.h"

#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>

namespace {

std::mutex seamMutex;
TClockSeam seam;

TClockSeam CurrentSeam() {
    std::lock_guard lock(seamMutex);
    return seam;
}

TDateTime SystemNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto msec = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    const TDateTimeParts parts{local.tm_year + 1900,
                               local.tm_mon + 1,
                               local.tm_mday,
                               local.tm_hour,
                               local.tm_min,
                               local.tm_sec,
                               static_cast<int>(msec < 0 ? 0 : msec)};
    // A leap second (tm_sec 60) is no valid time of day: count it as the second before.
    TDateTimeParts valid = parts;
    if (valid.Second > 59) {
        valid.Second = 59;
    }
    return TryEncodeDateTime(valid).value_or(0.0);
}

} // namespace

TDateTime Now() {
    const TClockSeam current = CurrentSeam();
    return current.Now ? current.Now() : SystemNow();
}

void Sleep(unsigned milliseconds) {
    const TClockSeam current = CurrentSeam();
    if (current.Sleep) {
        current.Sleep(milliseconds);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void SetClockForTests(TClockSeam replacement) {
    std::lock_guard lock(seamMutex);
    seam = std::move(replacement);
}
