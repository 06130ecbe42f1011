#pragma once
// Changes the transport's limits for one test and puts the old ones back afterwards.

#include "core/Net.h"

#include <chrono>

namespace testing_support {

class ScopedNetLimits {
public:
    explicit ScopedNetLimits(const TNetLimits& limits) : old_(NetLimits()) {
        SetNetLimitsForTests(limits);
    }
    // The limits in force with another per-read limit: tests against a peer that never
    // answers need not wait the default 30 seconds.
    explicit ScopedNetLimits(std::chrono::milliseconds perRead)
        : ScopedNetLimits(WithPerRead(perRead)) {}
    ~ScopedNetLimits() { SetNetLimitsForTests(old_); }
    ScopedNetLimits(const ScopedNetLimits&) = delete;
    ScopedNetLimits& operator=(const ScopedNetLimits&) = delete;

private:
    static TNetLimits WithPerRead(std::chrono::milliseconds perRead) {
        TNetLimits limits = NetLimits();
        limits.PerRead = perRead;
        return limits;
    }
    const TNetLimits old_;
};

} // namespace testing_support
