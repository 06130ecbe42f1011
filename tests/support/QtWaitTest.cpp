// The window-thread waits: events run while they wait, and they end as soon as they can.

#include "tests/support/QtWait.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

namespace testing_support {
namespace {

class CoreApplication final : public ::testing::Environment {
public:
    void SetUp() override { application_ = std::make_unique<QCoreApplication>(argc_, argv_); }
    void TearDown() override { application_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "corvale-tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QCoreApplication> application_;
};
const auto* const registered = ::testing::AddGlobalTestEnvironment(new CoreApplication);

TEST(QtWaitTest, EventsRunWhileWaitingForACondition) {
    bool fired = false;
    QTimer::singleShot(20, [&] { fired = true; });
    EXPECT_TRUE(WaitFor([&] { return fired; }));
    EXPECT_FALSE(WaitFor([] { return false; }, 30ms));
}

TEST(QtWaitTest, WaitsForASignalTheActionCauses) {
    QTimer timer;
    timer.setSingleShot(true);
    EXPECT_TRUE(WaitForSignal(&timer, &QTimer::timeout, [&] { timer.start(10); }));
    EXPECT_FALSE(WaitForSignal(
        &timer, &QTimer::timeout, [&] { timer.start(10); }, 2, 200ms))
        << "a single shot fires once";
}

TEST(QtWaitTest, RunningEventsForAWhileDeliversThem) {
    int fired = 0;
    QTimer::singleShot(10, [&] { ++fired; });
    RunEventsFor(100ms);
    EXPECT_EQ(fired, 1);
}

} // namespace
} // namespace testing_support
