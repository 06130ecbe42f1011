#include "tests/core/TaskFixture.h"

#include <filesystem>
#include <mutex>

namespace testing_support {

namespace {

std::mutex errorsMutex;
std::condition_variable errorsChanged;
std::vector<std::string> errors;

void CollectTaskError(const std::string& message) {
    std::lock_guard lock(errorsMutex);
    errors.push_back(message);
    errorsChanged.notify_all();
}

} // namespace

int ThreadCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++count;
    }
    return count;
}

std::string RequestTarget(const std::string& rawRequest) {
    const auto start = rawRequest.find(' ');
    const auto end = rawRequest.find(" HTTP/1.0\r\n");
    if (start == std::string::npos || end == std::string::npos || end < start) {
        return rawRequest;
    }
    return rawRequest.substr(start + 1, end - start - 1);
}

void TaskErrors::Install() {
    {
        std::lock_guard lock(errorsMutex);
        errors.clear();
    }
    SetTaskErrorSinkForTests(&CollectTaskError);
}

void TaskErrors::Uninstall() {
    SetTaskErrorSinkForTests(nullptr);
}

std::vector<std::string> TaskErrors::Messages() {
    std::lock_guard lock(errorsMutex);
    return errors;
}

bool TaskErrors::WaitFor(const std::string& message) {
    std::unique_lock lock(errorsMutex);
    return testing_support::WaitUntil(errorsChanged, lock, [&] {
        return std::find(errors.begin(), errors.end(), message) != errors.end();
    });
}

TDateTime FixedNow() {
    return *TryEncodeDateTime({2026, 12, 6, 12, 30, 5, 0});
}

void TaskTest::SetUp() {
    baselineThreads_ = ThreadCount();
    InitCfg("/opt/corvale/corvale", "OFFICE-PC");
    Vars.UserID = std::string("jdoe");
    Vars.Password = std::string("c2VjcmV0");
    SetServiceEndpoint({"127.0.0.1", server_.Port()});
    SetWindowOps(&window_);
    TaskErrors::Install();
}

void TaskTest::TearDown() {
    window_.ReleaseMessages();
    EXPECT_TRUE(WaitForTasksToEnd()) << "a task was still running at the end of the test";
    SetWindowOps(nullptr);
    TaskErrors::Uninstall();
    netLimits_.reset(); // once no task is left to use them
    SetServiceEndpoint({std::string(kDefaultServiceHost), kDefaultServicePort});
}

bool TaskTest::WaitForTasksToEnd(std::chrono::milliseconds timeout) {
    return WaitUntil([this] { return ThreadCount() <= baselineThreads_; }, timeout);
}

std::vector<std::string> TaskTest::Targets() const {
    std::vector<std::string> targets;
    for (const auto& request : server_.Requests()) {
        targets.push_back(RequestTarget(request));
    }
    return targets;
}

} // namespace testing_support
