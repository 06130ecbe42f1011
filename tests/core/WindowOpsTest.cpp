// The stand-in window that tasks find when there is no main window.

#include "core/WindowOps.h"

#include "core/uCfg.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

TEST(NoWindow, AnswersEveryQuestionHarmlessly) {
    SetWindowOps(nullptr);
    IWindowOps& none = WindowOps();
    EXPECT_FALSE(none.IsActiveChecked());
    EXPECT_EQ(none.BuddyRowCount(), 0);
    EXPECT_EQ(none.ShowMessage("text", "caption", TMsgButtons::YesNo), TMsgAnswer::No);
    EXPECT_EQ(none.ShowMessage("text", "caption", TMsgButtons::OK), TMsgAnswer::OK);
}

// The program does not wait for its tasks at the end: a task that is still calling the window
// operations and reading the shared records while the static objects are destroyed must not
// crash the exit (a destroyed stand-in ends in a pure virtual call, a destroyed record frees
// the text the task copies; the race detector reports either).
TEST(NoWindow, OutlivesTheEndOfTheProgramAndSoDoTheRecords) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SetWindowOps(nullptr);
        Vars.UserID = std::string(64, 'u'); // too long to live inside the string itself
        Cfg.AppPath = std::string(64, 'a');
        std::atomic<bool> calling{false};
        std::thread([&calling] {
            for (;;) {
                WindowOps().RestartTimerIfActive();
                const std::string copies = Vars.UserID.Load() + Cfg.AppPath;
                calling.store(!copies.empty());
            }
        }).detach();
        while (!calling.load()) {
            std::this_thread::yield();
        }
        std::exit(0); // runs the static destructors while the task goes on calling
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
