#pragma once
// Lets the window thread's events run until a condition holds or a deadline passes.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <chrono>

template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > deadline.count()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Runs the window thread's events for a while, for checks that something does NOT happen.
inline void RunEventsFor(std::chrono::milliseconds period) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < period.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}
