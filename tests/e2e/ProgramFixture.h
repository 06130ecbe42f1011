#pragma once
// The whole program in a private X server with a tray host: a copy of `corvale` in a fresh
// folder of its own (its settings file lives beside it), started as a user would, watched
// and driven from outside with xdotool, as another program sees it.

#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"
#include "tests/support/Wait.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using testing_support::ChildProcess;
using testing_support::RunAndRead;

// Polls `condition` until it holds or the deadline (15 s unless told, scaled) passes: the whole
// program starts, draws and talks to an X server and a service, slower than anything in-process.
inline bool Eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds deadline = std::chrono::seconds(15)) {
    return testing_support::WaitUntil(condition, deadline);
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

    void WriteIni(const std::string& lines);
    // Starts the copy of the program with `args`; all copies of one test share one runtime
    // folder, as two starts by the same user do.
    // `environment` adds or (as "NAME=") removes variables; the output goes to `outputFile`
    // when one is named.
    std::unique_ptr<ChildProcess> StartClient(const std::vector<std::string>& args = {},
                                              const std::vector<std::string>& environment = {},
                                              const std::string& outputFile = {});
    // The running copy answers messages of other programs: its window exists. `runtime` is the
    // folder of its locks and sockets, the test's own unless told.
    bool ClientAnswers();
    bool ClientAnswersIn(const std::filesystem::path& runtime);
    std::optional<TXWindow> MainWindow();

    testing_support::TempFolder temp_;
    std::filesystem::path folder = temp_.Path();
    std::filesystem::path program;
};

// Why the whole-program tests cannot run here (empty when they can).
const std::string& ProgramTestSkipReason();
