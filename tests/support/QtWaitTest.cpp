// The window-thread waits: events run while they wait, and they end as soon as they can.

#include "tests/support/QtWait.h"

#include "tests/support/QtApplicationEnvironment.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

namespace testing_support {
namespace {

const auto* const registered = RegisterQtApplication<QCoreApplication>("corvale-tests");

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
