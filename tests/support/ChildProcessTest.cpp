// Programs started by tests and pieces of tests run in forked children.

#include "tests/support/ChildProcess.h"

#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>

namespace testing_support {
namespace {

std::unique_ptr<ChildProcess> Shell(const std::string& script, ChildSetup setup = {}) {
    return std::make_unique<ChildProcess>("/bin/sh", std::vector<std::string>{"-c", script},
                                          std::move(setup));
}

TEST(ChildProcessTest, ReportsTheExitCodeOrTheSignal) {
    EXPECT_EQ(Shell("exit 3")->WaitForExit(), 3);
    auto sleeper = Shell("exec sleep 30");
    EXPECT_TRUE(sleeper->Running());
    EXPECT_EQ(sleeper->WaitForExit(50ms), std::nullopt) << "still running";
    sleeper->Signal(SIGTERM);
    EXPECT_EQ(sleeper->WaitForExit(), 128 + SIGTERM);
    EXPECT_FALSE(sleeper->Running());
    EXPECT_EQ(ChildProcess("/nonexistent/program", {}).WaitForExit(), 127);
}

TEST(ChildProcessTest, StopKillsAProgramThatIgnoresTheRequest) {
    auto stubborn = Shell("trap '' TERM; echo ready; while :; do sleep 1; done",
                          ChildSetup{.PipeOutput = true});
    ASSERT_EQ(stubborn->ReadLine(), "ready"); // the trap is in place
    stubborn->Stop(100ms);
    EXPECT_EQ(stubborn->WaitForExit(0ms), 128 + SIGKILL);
}

TEST(ChildProcessTest, ARunningProgramDiesWithItsObject) {
    pid_t pid = 0;
    {
        auto sleeper = Shell("exec sleep 30");
        pid = sleeper->Pid();
        ASSERT_GT(pid, 0);
    }
    EXPECT_EQ(::kill(pid, 0), -1) << "neither running nor left as a zombie";
    EXPECT_EQ(errno, ESRCH);
}

TEST(ChildProcessTest, EnvironmentChangesApplyToTheChildOnly) {
    ScopedEnv kept("CORVALE_CHILD_KEPT", "kept");
    ScopedEnv removed("CORVALE_CHILD_REMOVED", "present");
    auto child =
        Shell("echo \"$CORVALE_CHILD_KEPT|$CORVALE_CHILD_SET|${CORVALE_CHILD_REMOVED-unset}\"",
              ChildSetup{.Environment = {"CORVALE_CHILD_SET=set", "CORVALE_CHILD_REMOVED="},
                         .PipeOutput = true});
    EXPECT_EQ(child->ReadLine(), "kept|set|unset");
    EXPECT_EQ(child->WaitForExit(), 0);
    EXPECT_STREQ(std::getenv("CORVALE_CHILD_REMOVED"), "present");
}

TEST(ChildProcessTest, OutputGoesToTheFileOrThePipe) {
    TempFolder folder;
    const std::string log = folder / "out.log";
    EXPECT_EQ(Shell("echo out; echo err >&2", ChildSetup{.OutputFile = log})->WaitForExit(), 0);
    EXPECT_EQ(ReadFile(log), "out\nerr\n");

    auto piped = Shell("echo one; echo two", ChildSetup{.PipeOutput = true});
    EXPECT_EQ(piped->ReadAll(), "one\ntwo\n");
    EXPECT_EQ(piped->ReadLine(50ms), "") << "the output has ended";
    auto silent = Shell("exec sleep 30", ChildSetup{.PipeOutput = true});
    EXPECT_EQ(silent->ReadLine(50ms), "") << "nothing came in time";
}

TEST(RunInChildTest, TheChildCanDropToAnUnprivilegedAccount) {
    const ChildResult result =
        RunInChild([] { return ::geteuid() == UnprivilegedUid() ? 0 : 1; }, true);
    ASSERT_FALSE(result.cannotDrop);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 0);
    const ChildResult crashed = RunInChild([] { return ::raise(SIGABRT); });
    EXPECT_FALSE(crashed.exited);
    EXPECT_EQ(crashed.signal, SIGABRT);
}

TEST(ProgramLookupTest, FindsProgramsOnThePathAndRunsThem) {
    EXPECT_EQ(FindProgram("sh").front(), '/');
    EXPECT_EQ(FindProgram("corvale-no-such-program"), "");
    EXPECT_EQ(RunAndRead("echo", {"a  b", "c"}), "a  b c\n");
}

} // namespace
} // namespace testing_support
