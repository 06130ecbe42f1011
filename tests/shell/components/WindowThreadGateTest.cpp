// Carrying calls from task threads to the window thread, and letting them go when the window
// goes.

#include "shell/components/WindowThreadGate.h"

#include "tests/support/QtWait.h"

#include <QObject>
#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using testing_support::RunEventsFor;
using testing_support::WaitFor;
using namespace std::chrono_literals;

namespace {

class WindowThreadGateTest : public ::testing::Test {
protected:
    void SetUp() override { gate.Open(&context); }
    void TearDown() override { gate.Close(); }

    // Runs `call` on a task thread while the window thread handles its events.
    template <typename R> R FromTask(std::function<R()> call) {
        auto result = std::async(std::launch::async, std::move(call));
        EXPECT_TRUE(WaitFor([&] { return result.wait_for(0ms) == std::future_status::ready; }));
        return result.get();
    }

    QObject context;
    TWindowThreadGate gate;
};

TEST_F(WindowThreadGateTest, RunsOnTheWindowThreadAndReturnsItsResult) {
    const std::thread::id windowThread = std::this_thread::get_id();
    const bool ranThere = FromTask<bool>([&] {
        return gate.Invoke<bool>([&] { return std::this_thread::get_id() == windowThread; }, false);
    });
    EXPECT_TRUE(ranThere);
}

TEST_F(WindowThreadGateTest, DirectOnTheWindowThread) {
    int calls = 0;
    EXPECT_EQ(gate.Invoke<int>([&] { return ++calls; }, -1), 1);
    EXPECT_TRUE(gate.OnWindowThread());
}

TEST_F(WindowThreadGateTest, KeepsTheOrderOfOneTasksCalls) {
    std::vector<int> order;
    FromTask<bool>([&] {
        for (int i = 0; i < 20; ++i) {
            gate.Invoke([&, i] { order.push_back(i); });
        }
        gate.Post([&] { order.push_back(100); });
        return true;
    });
    WaitFor([&] { return order.size() == 21; });
    ASSERT_EQ(order.size(), 21u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
}

TEST_F(WindowThreadGateTest, AwaitWaitsForAnAnswerGivenLater) {
    TWindowThreadGate::TCompletion<int> pending;
    auto result = std::async(std::launch::async, [&] {
        return gate.Await<int>(
            [&](TWindowThreadGate::TCompletion<int> answer) { pending = answer; }, -1);
    });
    ASSERT_TRUE(WaitFor([&] { return static_cast<bool>(pending); }));
    RunEventsFor(50ms);
    EXPECT_EQ(result.wait_for(0ms), std::future_status::timeout) << "still waiting for the answer";
    pending(7);
    pending(8); // a second answer is ignored
    EXPECT_EQ(result.get(), 7);
}

TEST_F(WindowThreadGateTest, ClosingReleasesWaitingTasksWithTheirFallback) {
    std::atomic<int> started{0};
    std::vector<std::future<int>> waiting;
    for (int i = 0; i < 3; ++i) {
        waiting.push_back(std::async(std::launch::async, [&] {
            ++started;
            return gate.Await<int>([](TWindowThreadGate::TCompletion<int>) {}, -1);
        }));
    }
    ASSERT_TRUE(WaitFor([&] { return started == 3; }));
    RunEventsFor(50ms); // every box is "open" now
    gate.Close();
    for (auto& task : waiting) {
        ASSERT_EQ(task.wait_for(2s), std::future_status::ready);
        EXPECT_EQ(task.get(), -1);
    }
}

TEST_F(WindowThreadGateTest, ClosingBeforeAQueuedCallRunsDropsIt) {
    bool ran = false;
    auto task = std::async(std::launch::async, [&] {
        return gate.Invoke<int>(
            [&] {
                ran = true;
                return 1;
            },
            -1);
    });
    // The window thread does not handle events until the gate is closed.
    std::this_thread::sleep_for(50ms);
    gate.Close();
    ASSERT_EQ(task.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(task.get(), -1);
    RunEventsFor(20ms);
    EXPECT_FALSE(ran);
}

TEST_F(WindowThreadGateTest, NothingIsCarriedOnceClosedNorForTheNextWindow) {
    gate.Close();
    bool ran = false;
    EXPECT_EQ(FromTask<int>([&] {
                  return gate.Invoke<int>(
                      [&] {
                          ran = true;
                          return 1;
                      },
                      -1);
              }),
              -1);
    EXPECT_EQ(gate.Invoke<int>(
                  [&] {
                      ran = true;
                      return 1;
                  },
                  -1),
              -1);
    gate.Post([&] { ran = true; });

    // A call posted for the first window and not yet run must not run for the second.
    gate.Open(&context);
    auto stale = std::async(std::launch::async, [&] { gate.Post([&] { ran = true; }); });
    stale.wait();
    gate.Close();
    QObject next;
    gate.Open(&next);
    RunEventsFor(20ms);
    EXPECT_FALSE(ran);
}

} // namespace
