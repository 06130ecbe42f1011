// The waits every test relies on: the timeout factor, the scaling of deadlines, and both ways
// of waiting (polling a condition, a condition variable).

#include "tests/support/Wait.h"

#include <gtest/gtest.h>
#include <thread>

namespace testing_support {
namespace {

struct FactorCase {
    const char* text;
    std::optional<double> factor;
};

TEST(TimeoutFactorTest, AcceptsOnlyPositiveFiniteNumbers) {
    const FactorCase cases[] = {
        {"1", 1.0},           {"2.5", 2.5},         {"0.5", 0.5},          {"10", 10.0},
        {"", std::nullopt},   {"0", std::nullopt},  {"-2", std::nullopt},  {"abc", std::nullopt},
        {"2x", std::nullopt}, {" 2", std::nullopt}, {"inf", std::nullopt}, {"nan", std::nullopt},
    };
    for (const FactorCase& c : cases) {
        EXPECT_EQ(ParseTimeoutFactor(c.text), c.factor) << '"' << c.text << '"';
    }
}

TEST(TimeoutFactorTest, StretchesDeadlinesAndNeverRoundsOneToZero) {
    EXPECT_EQ(Scaled(10ms, 2.5), 25ms);
    EXPECT_EQ(Scaled(10s, 1.0), 10s);
    EXPECT_EQ(Scaled(3ms, 0.1), 1ms);
    EXPECT_EQ(Scaled(0ms, 3.0), 0ms);
}

TEST(WaitUntilTest, ReturnsAtOnceWhenTheConditionHolds) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(WaitUntil([] { return true; }, 10s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(WaitUntilTest, SeesAChangeMadeByAnotherThread) {
    std::atomic<bool> done{false};
    std::thread other([&] {
        std::this_thread::sleep_for(20ms);
        done = true;
    });
    EXPECT_TRUE(WaitUntil([&] { return done.load(); }));
    other.join();
}

TEST(WaitUntilTest, GivesUpAfterTheDeadline) {
    int checks = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(WaitUntil([&] { return ++checks < 0; }, 50ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
    EXPECT_GT(checks, 1) << "polled, not checked once";
}

TEST(WaitUntilTest, ConditionVariableWaitWakesOnNotifyAndTimesOut) {
    std::mutex mutex;
    std::condition_variable changed;
    bool ready = false;
    std::thread other([&] {
        std::this_thread::sleep_for(20ms);
        std::lock_guard lock(mutex);
        ready = true;
        changed.notify_all();
    });
    {
        std::unique_lock lock(mutex);
        EXPECT_TRUE(WaitUntil(changed, lock, [&] { return ready; }));
        EXPECT_FALSE(WaitUntil(
            changed, lock, [&] { return !ready; }, 30ms));
    }
    other.join();
}

} // namespace
} // namespace testing_support
