#pragma once
// The clock and the waits of the service client, behind one seam so that tests can fix the
// time and skip the waits. Production uses the system clock and really waits.

#include "core/uTypes.h"

#include <functional>

// The current local date-time.
TDateTime Now();
// Blocks the calling thread for `milliseconds`.
void Sleep(unsigned milliseconds);

// Replaces the clock and the wait (both thread-safe to call). An empty function restores the
// real one.
struct TClockSeam {
    std::function<TDateTime()> Now;
    std::function<void(unsigned milliseconds)> Sleep;
};
void SetClockForTests(TClockSeam seam);
