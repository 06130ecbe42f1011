// The shared run-time variables under concurrent use.

#include "core/uCfg.h"

#include <atomic>
#include <gtest/gtest.h>
#include <set>
#include <thread>
#include <vector>

namespace {

// Writers store long values that differ in every byte; a reader that ever sees a value that
// is none of them has seen a torn or mixed write.
TEST(Vars, ConcurrentReadsAlwaysSeeAWholeWrittenValue) {
    constexpr int kWriters = 3;
    constexpr int kReaders = 3;
    constexpr int kRounds = 3000;
    std::vector<std::string> values;
    for (int i = 0; i < kWriters; ++i) {
        values.push_back(std::string(512 + 97 * i, static_cast<char>('a' + i)));
    }
    values.push_back(std::string()); // the start value
    const std::set<std::string> allowed(values.begin(), values.end());
    Vars.IP = std::string();
    Vars.UserID = std::string();
    Vars.ChangeTime = 0.0;

    std::atomic<int> torn{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w) {
        threads.emplace_back([&, w] {
            for (int r = 0; r < kRounds; ++r) {
                Vars.IP = values[w];
                Vars.UserID = values[(w + 1) % kWriters];
                Vars.ChangeTime = 1000.0 * (w + 1) + 0.123456789;
            }
        });
    }
    for (int i = 0; i < kReaders; ++i) {
        threads.emplace_back([&] {
            for (int r = 0; r < kRounds; ++r) {
                const double time = Vars.ChangeTime;
                if (!allowed.count(Vars.IP.Load()) || !allowed.count(Vars.UserID.Load()) ||
                    !(time == 0.0 || time == 1000.123456789 || time == 2000.123456789 ||
                      time == 3000.123456789)) {
                    ++torn;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(torn.load(), 0);
}

} // namespace
