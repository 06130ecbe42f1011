#include "tests/support/Wait.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <thread>

namespace testing_support {

std::optional<double> ParseTimeoutFactor(std::string_view text) {
    double factor = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, factor);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(factor) ||
        factor <= 0) {
        return std::nullopt;
    }
    return factor;
}

double TimeoutFactor() {
    static const double factor = [] {
        const char* text = std::getenv("CORVALE_TEST_TIMEOUT_FACTOR");
        return ParseTimeoutFactor(text ? text : "").value_or(1.0);
    }();
    return factor;
}

std::chrono::milliseconds Scaled(std::chrono::milliseconds deadline) {
    return Scaled(deadline, TimeoutFactor());
}

std::chrono::milliseconds Scaled(std::chrono::milliseconds deadline, double factor) {
    // Rounded up, so that a short deadline never becomes zero.
    return std::chrono::milliseconds(static_cast<std::chrono::milliseconds::rep>(
        std::ceil(static_cast<double>(deadline.count()) * factor)));
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + Scaled(deadline);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return condition();
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

} // namespace testing_support
