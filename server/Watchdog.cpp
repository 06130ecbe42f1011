#include "server/Watchdog.h"

#include <algorithm>

namespace server {

void RequestRate::Sample(Clock::time_point now, std::uint64_t total) {
    samples_.emplace_back(now, total);
    // Keep the newest sample that is a minute old or more: the minute is measured from it.
    while (samples_.size() > 2 && now - samples_[1].first >= std::chrono::minutes(1)) {
        samples_.pop_front();
    }
}

std::uint64_t RequestRate::PerMinute() const {
    if (samples_.empty()) {
        return 0;
    }
    const auto& [newestTime, newest] = samples_.back();
    const auto& [oldestTime, oldest] = samples_.front();
    (void)oldestTime;
    (void)newestTime;
    // A total that went back (it never should) reads as nothing served.
    return newest >= oldest ? newest - oldest : 0;
}

Watchdog::Watchdog(WatchdogSetup setup) : setup_(std::move(setup)), thread_([this] { Rounds(); }) {}

Watchdog::~Watchdog() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

bool Watchdog::EveryPartMoved() {
    bool all = true;
    // Every part is asked each round, so that each one's own "since the last call" stays true.
    for (auto& moved : setup_.Parts) {
        all = moved() && all;
    }
    return all;
}

void Watchdog::Rounds() {
    using Clock = std::chrono::steady_clock;
    const bool watching = static_cast<bool>(setup_.Alive);
    const bool reporting = setup_.StatusLine && setup_.SendStatus;
    if (!watching && !reporting) {
        return;
    }
    const auto round = watching ? std::min(setup_.Round, setup_.StatusEvery) : setup_.StatusEvery;
    auto nextStatus = Clock::now();
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        if (watching) {
            if (EveryPartMoved()) {
                setup_.Alive();
            }
        }
        if (reporting && Clock::now() >= nextStatus) {
            setup_.SendStatus(setup_.StatusLine());
            nextStatus = Clock::now() + setup_.StatusEvery;
        }
        lock.lock();
        wake_.wait_for(lock, round, [this] { return stopping_; });
    }
}

} // namespace server
