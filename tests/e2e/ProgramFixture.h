#pragma once
// The whole program in a private X server with a tray host: a copy of `corvale` in a fresh
// folder of its own (its settings file lives beside it), started as a user would, watched
// and driven from outside with xdotool, as another program sees it.

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

// A program started by the test; killed at the end of the test if it is still running.
class TChildProcess {
public:
    TChildProcess(const std::string& program, const std::vector<std::string>& args,
                  const std::vector<std::string>& environment, const std::string& outputFile);
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    bool Running();
    // The exit code (128 + signal for a signal), or none when it has not ended in time.
    std::optional<int> WaitForExit(std::chrono::milliseconds deadline);
    void Signal(int signal);

private:
    pid_t pid_ = -1;
    std::optional<int> exitCode_;
};

// Runs a program to its end and returns its standard output; empty on failure.
std::string RunAndRead(const std::string& program, const std::vector<std::string>& args);

// Polls `condition` until it holds or the deadline passes.
template <typename Condition>
bool Eventually(Condition condition,
                std::chrono::milliseconds deadline = std::chrono::seconds(15)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// X windows as xdotool sees them.
struct TXWindow {
    std::string Id;
    std::string Name;
    int X = 0, Y = 0, Width = 0, Height = 0;
};
std::vector<TXWindow> VisibleWindows(const std::string& searchOption, const std::string& pattern);

class TProgramTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void WriteIni(const std::string& lines);
    // Starts the copy of the program with `args`; all copies of one test share one runtime
    // folder, as two starts by the same user do.
    // `environment` adds or (as "NAME=") removes variables; the output goes to `outputFile`
    // when one is named.
    std::unique_ptr<TChildProcess> StartClient(const std::vector<std::string>& args = {},
                                               const std::vector<std::string>& environment = {},
                                               const std::string& outputFile = {});
    // The running copy answers messages of other programs: its window exists.
    bool ClientAnswers();
    std::optional<TXWindow> MainWindow();

    std::filesystem::path folder;
    std::filesystem::path program;
};

// Why the whole-program tests cannot run here (empty when they can).
const std::string& ProgramTestSkipReason();
