// The network watch in a network namespace of the test's own: a dummy interface whose
// address and routes the test adds, changes and removes with ip(8).

#include "platform/NetworkWatch.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/Wait.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr int kNoNamespace = 77;

// Whether the watch reports a change within `within` (it is drained either way).
bool ReportsChange(platform::TNetworkWatch& watch, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    bool changed = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) {
            return changed;
        }
        pollfd readable{watch.Fd(), POLLIN, 0};
        if (::poll(&readable, 1, static_cast<int>(left.count())) > 0) {
            changed = watch.TakeChanges() || changed;
            if (changed) {
                return true;
            }
        }
    }
}

enum class TReport { Change, Nothing, Either };

struct TStep {
    const char* Command;
    TReport Report; // what the watch is to report
};

// Each step is run in turn after the reports of the one before were drained; the exit code
// is 0, or 1 + the index of the first step the watch got wrong, or 100 + that index when the
// command itself failed.
int RunSteps(const std::vector<TStep>& steps) {
    if (::unshare(CLONE_NEWNET) != 0) {
        return kNoNamespace;
    }
    platform::TNetworkWatch watch;
    if (!watch.Failure().empty()) {
        return 99;
    }
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (std::system(steps[i].Command) != 0) {
            return 100 + static_cast<int>(i);
        }
        // A change is awaited generously; its absence is watched for half a second.
        const TReport expected = steps[i].Report;
        const bool changed =
            ReportsChange(watch, expected == TReport::Change ? testing_support::Scaled(5s)
                                                             : std::chrono::milliseconds(500));
        if ((expected == TReport::Change && !changed) ||
            (expected == TReport::Nothing && changed)) {
            return 1 + static_cast<int>(i);
        }
        ReportsChange(watch, 300ms); // what else the step caused
    }
    return 0;
}

TEST(TNetworkWatchTest, ReportsAddressesAndDefaultRoutesOnly) {
    if (testing_support::FindProgram("ip").empty()) {
        GTEST_SKIP() << "ip(8) is not installed";
    }
    const std::vector<TStep> steps = {
        // A dummy interface, or a pair of virtual ones where the kernel has no dummy, without
        // IPv6, whose link-local address would come and change at a time of its own.
        {"echo 1 >/proc/sys/net/ipv6/conf/default/disable_ipv6 && { ip link add corvale0 type "
         "dummy 2>/dev/null || { ip link add corvale0 type veth "
         "peer name corvale1 && ip link set corvale1 up; }; } && ip link set corvale0 up",
         TReport::Either},
        {"ip addr add 10.1.2.3/24 dev corvale0", TReport::Change},
        {"ip addr add 10.1.2.4/24 dev corvale0", TReport::Change},
        {"ip route add 10.9.0.0/16 via 10.1.2.1", TReport::Nothing},
        {"ip link set corvale0 mtu 1400", TReport::Nothing},
        {"ip route add default via 10.1.2.1", TReport::Change},
        {"ip route replace default via 10.1.2.9", TReport::Change},
        {"ip route del default", TReport::Change},
        {"ip addr del 10.1.2.3/24 dev corvale0", TReport::Change},
    };
    const testing_support::ChildResult result =
        testing_support::RunInChild([&] { return RunSteps(steps); });
    ASSERT_TRUE(result.exited) << "signal " << result.signal;
    if (result.exitCode == kNoNamespace) {
        GTEST_SKIP() << "no network namespace of the test's own (needs root)";
    }
    ASSERT_NE(result.exitCode, 99) << "the watch did not open";
    if (result.exitCode >= 100) {
        FAIL() << "the command failed: "
               << steps[static_cast<std::size_t>(result.exitCode - 100)].Command;
    }
    if (result.exitCode > 0) {
        const TStep& step = steps[static_cast<std::size_t>(result.exitCode - 1)];
        FAIL() << step.Command
               << (step.Report == TReport::Change ? ": no change reported"
                                                  : ": reported as a change");
    }
}

} // namespace
