#pragma once
// When a change of the network, or the machine's wake, starts an address check: a settle
// time after the first change (plus a little random jitter, so that many clients that see
// the same change do not all ask the service at once), at most one such check per spacing
// however many changes arrive, never while a check runs (one follows it instead), and only
// while checking is on. The rule keeps no clock and draws no random number: the caller gives
// it the time of a steady clock and the jitter, and arms one timer at the time it returns.

#include <chrono>
#include <optional>

class TCheckTriggerRule {
public:
    using TTime = std::chrono::milliseconds; // since any fixed point of a steady clock

    static constexpr TTime kSettle{2000};
    static constexpr TTime kMaxJitter{1000};
    static constexpr TTime kSpacing{10000};

    // What the caller does next: start the check now, and (re)arm its timer for a later
    // call of OnDue, or leave its timer as it is when ArmAt is empty.
    struct TStep {
        bool StartCheck = false;
        std::optional<TTime> ArmAt{};
        bool operator==(const TStep&) const = default;
    };

    // A change was seen. `jitter` is taken within 0 to kMaxJitter.
    TStep OnChange(TTime now, TTime jitter, bool active);
    // The armed time came. An early call starts nothing and names the time again (timers
    // may come a little early); a repeated one does nothing.
    TStep OnDue(TTime now, bool checkRunning, bool active);
    // An address check ended, whatever started it.
    TStep OnCheckEnded(TTime now, bool active);
    // Checking was switched off: what was waiting is dropped.
    void Drop();

private:
    TTime EarliestStart(TTime candidate) const;

    std::optional<TTime> dueAt_;
    bool afterRunningCheck_ = false; // came due while a check ran
    std::optional<TTime> lastStart_;
};
