// The checks that a change of the network, or the machine's wake, starts: the watch of the
// system's addresses and default routes, the watch of the login manager's sleep
// announcements, and the trigger rule's one timer. A wake counts as a change of the network
// (the machine may wake on another network, or with its address lease gone), so the same
// settle time, spacing and waiting for a running check apply.

#include "core/uTasks.h"
#include "platform/NetworkWatch.h"
#include "shell/components/SleepWatch.h"
#include "shell/mainwindow/fMain.h"

#include <QAction>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

TCheckTriggerRule::TTime SteadyNow() {
    return std::chrono::duration_cast<TCheckTriggerRule::TTime>(
        std::chrono::steady_clock::now().time_since_epoch());
}

} // namespace

void TCorvaleFormMain::StartNetworkWatch() {
    triggerTimer_ = new QTimer(this);
    triggerTimer_->setSingleShot(true);
    triggerTimer_->setTimerType(Qt::PreciseTimer);
    connect(triggerTimer_, &QTimer::timeout, this, [this] { TriggerCheckDue(); });
    StartSleepWatch();
    networkWatch_ = std::make_unique<platform::TNetworkWatch>();
    if (!networkWatch_->Failure().empty()) {
        // The checks then come from the timer and the user alone, as without the watch.
        std::fprintf(stderr, "corvale: network changes are not watched: %s\n",
                     networkWatch_->Failure().c_str());
        return;
    }
    auto* readable = new QSocketNotifier(networkWatch_->Fd(), QSocketNotifier::Read, this);
    connect(readable, &QSocketNotifier::activated, this, [this] {
        if (networkWatch_->TakeChanges()) {
            NetworkChanged();
        }
    });
}

void TCorvaleFormMain::StartSleepWatch() {
    sleepWatch_ = new TSleepWatch(this);
    if (!sleepWatch_->Failure().isEmpty()) {
        std::fprintf(stderr, "corvale: waking from sleep is not watched: %s\n",
                     qPrintable(sleepWatch_->Failure()));
        return;
    }
    connect(sleepWatch_, &TSleepWatch::woke, this, [this] { NetworkChanged(); });
}

void TCorvaleFormMain::NetworkChanged() {
    const TCheckTriggerRule::TTime jitter{QRandomGenerator::global()->bounded(
        static_cast<int>(TCheckTriggerRule::kMaxJitter.count()) + 1)};
    FollowTrigger(triggerRule_.OnChange(SteadyNow(), jitter, actActive->isChecked()));
}

void TCorvaleFormMain::TriggerCheckDue() {
    FollowTrigger(triggerRule_.OnDue(SteadyNow(), checksRunning_ > 0, actActive->isChecked()));
}

void TCorvaleFormMain::CheckEnded() {
    checksRunning_ = std::max(0, checksRunning_ - 1);
    if (checksRunning_ > 0) {
        return; // the check that ends last is the one a waiting check follows
    }
    FollowTrigger(triggerRule_.OnCheckEnded(SteadyNow(), actActive->isChecked()));
}

void TCorvaleFormMain::FollowTrigger(const TCheckTriggerRule::TStep& step) {
    if (step.StartCheck) {
        StartGetIP();
    }
    if (step.ArmAt) {
        const auto wait = std::max(TCheckTriggerRule::TTime{0}, *step.ArmAt - SteadyNow());
        triggerTimer_->start(static_cast<int>(wait.count()));
    }
}
