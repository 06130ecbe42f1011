#pragma once
// Waiting on the window thread: events keep running while a test waits for a condition or a
// signal. Deadlines scale with CORVALE_TEST_TIMEOUT_FACTOR like every other wait (Wait.h).

#include "tests/support/Wait.h"

#include <QObject>
#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <functional>

namespace testing_support {

// Lets the window thread's events run until `condition` holds (true) or the scaled deadline
// passes (false).
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds deadline = kDefaultDeadline) {
    return QTest::qWaitFor(condition, static_cast<int>(Scaled(deadline).count()));
}

// Runs `action` (when given), then lets events run until `sender` has sent `signal` at least
// `count` times (true) or the scaled deadline passes (false). The signal is watched before the
// action runs, so one sent at once is not missed.
template <typename Sender, typename Signal>
bool WaitForSignal(const Sender* sender, Signal signal, const std::function<void()>& action = {},
                   int count = 1, std::chrono::milliseconds deadline = kDefaultDeadline) {
    QSignalSpy spy(sender, signal);
    if (action) {
        action();
    }
    return WaitFor([&] { return spy.count() >= count; }, deadline);
}

// Runs the window thread's events for `period`, for checks that something does NOT happen.
// Not scaled: a longer look would only make the test slower, not more reliable.
void RunEventsFor(std::chrono::milliseconds period);

} // namespace testing_support
