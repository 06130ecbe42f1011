// The watchdog's rounds: "alive" only in rounds where every part moved, the status lines, and
// the requests-per-minute figure they carry.

#include "server/Watchdog.h"

#include "tests/support/Wait.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace testing_support {
namespace {

using namespace std::chrono_literals;
using server::RequestRate;
using server::Watchdog;
using server::WatchdogSetup;

TEST(RequestRate, CountsTheLastMinute) {
    const auto start = RequestRate::Clock::now();
    struct Case {
        const char* name;
        std::vector<std::pair<std::chrono::seconds, std::uint64_t>> samples;
        std::uint64_t perMinute;
    };
    const Case cases[] = {
        {"nothing sampled", {}, 0},
        {"one sample", {{0s, 7}}, 0},
        {"younger than a minute", {{0s, 5}, {20s, 9}, {40s, 12}}, 7},
        {"older ones drop out", {{0s, 5}, {30s, 50}, {61s, 60}, {95s, 80}}, 30},
        {"a minute exactly", {{0s, 10}, {60s, 25}}, 15},
        {"a total that went back", {{0s, 10}, {10s, 4}}, 0},
    };
    for (const Case& c : cases) {
        RequestRate rate;
        for (const auto& [at, total] : c.samples) {
            rate.Sample(start + at, total);
        }
        EXPECT_EQ(rate.PerMinute(), c.perMinute) << c.name;
    }
}

// Parts whose movement the test sets; records how often each was asked.
struct Parts {
    std::atomic<bool> moving[2] = {true, true};
    std::atomic<int> asked[2] = {0, 0};
    std::atomic<int> alive{0};

    WatchdogSetup Setup() {
        WatchdogSetup setup;
        for (int i = 0; i < 2; ++i) {
            setup.Parts.push_back([this, i] {
                ++asked[i];
                return moving[i].load();
            });
        }
        setup.Alive = [this] { ++alive; };
        setup.Round = 10ms;
        return setup;
    }
};

TEST(Watchdog, AliveOnlyWhileEveryPartMoves) {
    Parts parts;
    Watchdog watchdog(parts.Setup());
    EXPECT_TRUE(WaitUntil([&] { return parts.alive >= 3; }));

    parts.moving[1] = false;
    // Rounds under way when it stopped may still count; then none.
    const int askedBefore = parts.asked[0];
    ASSERT_TRUE(WaitUntil([&] { return parts.asked[0] >= askedBefore + 3; }));
    const int aliveWhenStuck = parts.alive;
    const int askedWhenStuck = parts.asked[0];
    ASSERT_TRUE(WaitUntil([&] { return parts.asked[0] >= askedWhenStuck + 5; }));
    EXPECT_EQ(parts.alive, aliveWhenStuck);

    parts.moving[1] = true;
    parts.moving[0] = false;
    // The first part is still asked every round while another is stuck, so that its "since the
    // last call" stays true of one round.
    const int askedSecond = parts.asked[1];
    EXPECT_TRUE(WaitUntil([&] { return parts.asked[1] >= askedSecond + 3; }));

    parts.moving[0] = true;
    const int aliveAgain = parts.alive;
    EXPECT_TRUE(WaitUntil([&] { return parts.alive >= aliveAgain + 3; }));
}

TEST(Watchdog, StatusAtOnceThenEveryPeriodAndNothingAfterItEnds) {
    std::mutex mutex;
    std::vector<std::string> sent;
    std::atomic<int> made{0};
    {
        WatchdogSetup setup;
        setup.StatusLine = [&] { return "line " + std::to_string(++made); };
        setup.SendStatus = [&](const std::string& line) {
            std::lock_guard lock(mutex);
            sent.push_back(line);
        };
        setup.StatusEvery = 20ms;
        Watchdog watchdog(std::move(setup));
        EXPECT_TRUE(WaitUntil([&] {
            std::lock_guard lock(mutex);
            return sent.size() >= 3;
        }));
    }
    std::lock_guard lock(mutex);
    const std::size_t atEnd = sent.size();
    EXPECT_EQ(sent.front(), "line 1");
    EXPECT_EQ(sent[1], "line 2");
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(sent.size(), atEnd);
}

} // namespace
} // namespace testing_support
