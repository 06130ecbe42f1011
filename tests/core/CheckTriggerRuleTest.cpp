// The rule that turns network changes and wakes into address checks, run over time lines as
// the window runs it: one timer armed at the time the rule returns, the rule told when a
// check ends and when checking is switched off.

#include "core/CheckTriggerRule.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using ms = std::chrono::milliseconds;

struct TChange {
    int At;
    int Jitter;
};
struct TSpan {
    int From;
    int To; // exclusive
};
struct TTimeLine {
    const char* Name;
    std::vector<TChange> Changes;
    std::vector<TSpan> ChecksRunning{}; // checks the rule did not start (timer, Check Now)
    std::vector<TSpan> Off{};           // _Active unchecked
    std::vector<int> Starts{};          // the expected starts of a check by the rule
};

bool Within(const std::vector<TSpan>& spans, int t) {
    for (const TSpan& span : spans) {
        if (t >= span.From && t < span.To) {
            return true;
        }
    }
    return false;
}

// The times at which the rule starts a check, on a 100 ms grid.
std::vector<int> StartsOf(const TTimeLine& line) {
    TCheckTriggerRule rule;
    long long armedAt = -1; // none while negative
    std::vector<int> starts;
    bool wasActive = true;
    const auto follow = [&](const TCheckTriggerRule::TStep& step, int t) {
        if (step.StartCheck) {
            starts.push_back(t);
        }
        if (step.ArmAt) {
            armedAt = step.ArmAt->count();
        }
    };
    for (int t = 0; t <= 40000; t += 100) {
        const bool active = !Within(line.Off, t);
        if (wasActive && !active) {
            rule.Drop();
            armedAt = -1;
        }
        wasActive = active;
        for (const TSpan& span : line.ChecksRunning) {
            if (span.To == t) {
                follow(rule.OnCheckEnded(ms(t), active), t);
            }
        }
        for (const TChange& change : line.Changes) {
            if (change.At == t) {
                follow(rule.OnChange(ms(t), ms(change.Jitter), active), t);
            }
        }
        if (armedAt >= 0 && t >= armedAt) {
            armedAt = -1;
            follow(rule.OnDue(ms(t), Within(line.ChecksRunning, t), active), t);
        }
    }
    return starts;
}

std::vector<TChange> Burst(int from, int count, int every) {
    std::vector<TChange> changes;
    for (int i = 0; i < count; ++i) {
        changes.push_back({from + i * every, 0});
    }
    return changes;
}

const TTimeLine kTimeLines[] = {
    {"one change settles for 2 s", {{0, 0}}, {}, {}, {2000}},
    {"the jitter adds to the settle time", {{0, 700}}, {}, {}, {2700}},
    {"the jitter is at most 1 s", {{0, 5000}}, {}, {}, {3000}},
    {"a negative jitter counts as none", {{0, -300}}, {}, {}, {2000}},
    {"a burst of ten gives one check", Burst(0, 10, 100), {}, {}, {2000}},
    {"a burst spread over the settle time gives one", Burst(0, 10, 200), {}, {}, {2000}},
    {"a change soon after a check waits out the 10 s", {{0, 0}, {5000, 0}}, {}, {}, {2000, 12000}},
    {"a burst after a check gives one more", Burst(2500, 10, 500), {}, {}, {4500, 14500}},
    {"a change long after is checked at its settle time",
     {{0, 0}, {20000, 0}},
     {},
     {},
     {2000, 22000}},
    {"while checking is off nothing starts", {{0, 0}, {5000, 0}}, {}, {{0, 40100}}, {}},
    {"switching checking off drops the waiting check", {{0, 0}}, {}, {{1000, 1500}}, {}},
    {"a change after checking is on again counts", {{500, 0}, {3000, 0}}, {}, {{0, 1000}}, {5000}},
    {"due during a check: one follows its end", {{0, 0}}, {{1000, 4000}}, {}, {4000}},
    {"changes during a check: still one after it",
     Burst(1000, 10, 200),
     {{1500, 6000}},
     {},
     {6000}},
    {"a check that follows another keeps the spacing",
     {{0, 0}, {3000, 0}},
     {{11000, 13000}},
     {},
     {2000, 13000}},
    {"a check ending after checking went off starts nothing",
     {{0, 0}},
     {{1000, 4000}},
     {{3000, 40100}},
     {}},
    {"a check that ends with nothing waiting starts nothing", {}, {{1000, 4000}}, {}, {}},
};

class TCheckTriggerRuleTest : public ::testing::TestWithParam<TTimeLine> {};

TEST_P(TCheckTriggerRuleTest, StartsChecksAsTheRuleSays) {
    EXPECT_EQ(StartsOf(GetParam()), GetParam().Starts) << GetParam().Name;
}

INSTANTIATE_TEST_SUITE_P(TimeLines, TCheckTriggerRuleTest, ::testing::ValuesIn(kTimeLines),
                         [](const auto& info) { return "Line" + std::to_string(info.index); });

// The timer comes early or twice: only the due time starts, and only once.
TEST(TCheckTriggerRuleSteps, AnEarlyOrRepeatedDueStartsNothing) {
    TCheckTriggerRule rule;
    const auto armed = rule.OnChange(ms(0), ms(0), true);
    ASSERT_EQ(armed, (TCheckTriggerRule::TStep{false, ms(2000)}));
    EXPECT_EQ(rule.OnDue(ms(1999), false, true), (TCheckTriggerRule::TStep{false, ms(2000)}));
    EXPECT_EQ(rule.OnDue(ms(2000), false, true), (TCheckTriggerRule::TStep{true, std::nullopt}));
    EXPECT_EQ(rule.OnDue(ms(2100), false, true), TCheckTriggerRule::TStep{});
    EXPECT_EQ(rule.OnChange(ms(2100), ms(0), true), (TCheckTriggerRule::TStep{false, ms(12000)}));
}

} // namespace
