// The stand-in window that tasks find when there is no main window.

#include "core/WindowOps.h"

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
// operations while the static objects are destroyed must not crash the exit (a destroyed
// stand-in would end in a pure virtual call, and the race detector reports the destruction).
TEST(NoWindow, OutlivesTheEndOfTheProgram) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SetWindowOps(nullptr);
        std::atomic<bool> calling{false};
        std::thread([&calling] {
            for (;;) {
                WindowOps().RestartTimerIfActive();
                calling.store(true);
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
