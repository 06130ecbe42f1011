#include "core/CheckTriggerRule.h"

#include <algorithm>

TCheckTriggerRule::TTime TCheckTriggerRule::EarliestStart(TTime candidate) const {
    return lastStart_ ? std::max(candidate, *lastStart_ + kSpacing) : candidate;
}

TCheckTriggerRule::TStep TCheckTriggerRule::OnChange(TTime now, TTime jitter, bool active) {
    if (!active) {
        return {};
    }
    if (dueAt_ || afterRunningCheck_) {
        return {}; // the check already waiting covers this change too
    }
    dueAt_ = EarliestStart(now + kSettle + std::clamp(jitter, TTime{0}, kMaxJitter));
    return {false, dueAt_};
}

TCheckTriggerRule::TStep TCheckTriggerRule::OnDue(TTime now, bool checkRunning, bool active) {
    if (!dueAt_) {
        return {};
    }
    if (now < *dueAt_) {
        return {false, dueAt_}; // a timer that came early waits again
    }
    dueAt_.reset();
    if (!active) {
        return {};
    }
    if (checkRunning) {
        afterRunningCheck_ = true;
        return {};
    }
    lastStart_ = now;
    return {true, std::nullopt};
}

TCheckTriggerRule::TStep TCheckTriggerRule::OnCheckEnded(TTime now, bool active) {
    if (!afterRunningCheck_) {
        return {};
    }
    afterRunningCheck_ = false;
    if (!active) {
        return {};
    }
    dueAt_ = EarliestStart(now);
    return {false, dueAt_};
}

void TCheckTriggerRule::Drop() {
    dueAt_.reset();
    afterRunningCheck_ = false;
}
