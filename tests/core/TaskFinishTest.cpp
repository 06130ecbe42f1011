// The closing steps of a task: once, however the task ends.

#include "core/uTasksFinish.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace {

TEST(FinishOnce, RunsOnceWhetherFinishedOrLeft) {
    int runs = 0;
    {
        TFinishOnce finish([&] { ++runs; });
        finish.Finish();
        EXPECT_EQ(runs, 1);
        finish.Finish();
    }
    EXPECT_EQ(runs, 1) << "neither a second Finish nor the scope's end runs it again";
    {
        TFinishOnce finish([&] { ++runs; });
    }
    EXPECT_EQ(runs, 2) << "leaving the scope without Finish runs it";
}

TEST(FinishOnce, RunsWhenAnErrorLeavesTheScope) {
    int runs = 0;
    EXPECT_THROW(
        {
            TFinishOnce finish([&] { ++runs; });
            throw std::runtime_error("bad number");
        },
        std::runtime_error);
    EXPECT_EQ(runs, 1);
}

TEST(FinishOnce, ErrorOfTheClosingStepsStaysInsideTheScopesEnd) {
    EXPECT_NO_THROW({ TFinishOnce finish([] { throw std::runtime_error("window gone"); }); });
    TFinishOnce called([] { throw std::runtime_error("window gone"); });
    EXPECT_THROW(called.Finish(), std::runtime_error) << "Finish itself reports it";
    EXPECT_NO_THROW(called.Finish()) << "and does not run the steps again";
}

} // namespace
