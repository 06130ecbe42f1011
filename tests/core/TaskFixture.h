#pragma once
// The common ground of the task tests: a scripted service on 127.0.0.1, the recording window,
// a fixed clock whose waits are logged instead of taken, fresh records for every test, and a
// check at the end that every task the test started has ended.

#include "core/uCfg.h"
#include "core/uClock.h"
#include "core/uDateTime.h"
#include "core/uEndpoint.h"
#include "core/uThreads.h"
#include "tests/core/FakeWindow.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScopedNetLimits.h"
#include "tests/support/ScopedSeam.h"

#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

using testing_support::LoopbackServer;
using testing_support::ScriptedReply;

// The number of threads of this process.
int ThreadCount();

// The path and query of a recorded raw request ("/bin/corvale/cmd.php?action=...").
std::string RequestTarget(const std::string& rawRequest);

// Messages of task errors reported since the last Clear.
class TaskErrors {
public:
    static void Install();
    static void Uninstall();
    static std::vector<std::string> Messages();
    static bool WaitFor(const std::string& message);
};

// 6 December 2026, 12:30:05: "Dec 06 2026 12:30:05" under the C locale.
TDateTime FixedNow();
inline constexpr const char* kFixedNowText = "Dec 06 2026 12:30:05";

class TaskTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Waits until every thread started since SetUp has ended: all tasks and their children.
    bool WaitForTasksToEnd(std::chrono::milliseconds timeout = testing_support::kDefaultDeadline);
    // The request targets the service received, in order of arrival.
    std::vector<std::string> Targets() const;
    void Reply(const std::string& body) { server_.Enqueue(ScriptedReply::Http(body)); }
    // A shorter per-read limit for the rest of the test, its tasks included.
    void LimitEachRead(std::chrono::milliseconds perRead) { netLimits_.emplace(perRead); }

    LoopbackServer server_;
    FakeWindow window_;
    // A fixed time, and each wait logged instead of taken.
    testing_support::ScopedSeam<TClockSeam> clock_{
        SetClockForTests,
        TClockSeam{[] { return FixedNow(); },
                   [this](unsigned ms) { window_.Record("Sleep|" + std::to_string(ms)); }}};
    int baselineThreads_ = 0;

private:
    std::optional<testing_support::ScopedNetLimits> netLimits_;
};

} // namespace testing_support
