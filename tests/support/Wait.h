#pragma once
// Waiting in tests for something that happens on another thread or in another process. Every
// deadline is stretched by the factor in CORVALE_TEST_TIMEOUT_FACTOR (a positive number,
// default 1), so a slow machine or a sanitizer build lengthens them all without editing a test.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>

namespace testing_support {

using namespace std::chrono_literals;

// The deadline of a wait that names none: long enough for a loaded machine, short enough that
// a fault fails the test instead of the test program's time limit.
inline constexpr std::chrono::milliseconds kDefaultDeadline = 10s;

// The factor `text` names: a finite decimal number above zero; none for anything else.
std::optional<double> ParseTimeoutFactor(std::string_view text);
// The factor of this run: CORVALE_TEST_TIMEOUT_FACTOR when it is valid, else 1. Read once.
double TimeoutFactor();
// `deadline` stretched by `factor` (the run's factor when none is given).
std::chrono::milliseconds Scaled(std::chrono::milliseconds deadline);
std::chrono::milliseconds Scaled(std::chrono::milliseconds deadline, double factor);

// Polls `condition` every few milliseconds until it holds (true) or the scaled deadline passes
// (false). The condition is checked once more at the deadline.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds deadline = kDefaultDeadline);

// Waits on `changed`, with `lock` held around each check, until `condition` holds (true) or the
// scaled deadline passes (false).
template <typename Condition>
bool WaitUntil(std::condition_variable& changed, std::unique_lock<std::mutex>& lock,
               Condition condition, std::chrono::milliseconds deadline = kDefaultDeadline) {
    return changed.wait_for(lock, Scaled(deadline), std::move(condition));
}

} // namespace testing_support
