// The single-instance guard and the runtime folder it lives in, with real files and processes.

#include "platform/InstanceLock.h"

#include "platform/RuntimeDir.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using platform::InstanceLock;
using testing_support::ScopedEnv;
using testing_support::TempFolder;

namespace {

// Whether another process could take the lock right now (a fork tries it and reports back).
bool AnotherProcessCouldTake(const std::string& folder) {
    const pid_t pid = fork();
    if (pid == 0) {
        const auto lock = InstanceLock::AcquireIn(folder, "CORVALECLIENTMODULE");
        _exit(lock.IsHeld() ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(InstanceLockTest, OnlyOneHolderAtATime) {
    TempFolder folder;
    auto first = InstanceLock::AcquireIn(folder.FolderPath(), "CORVALECLIENTMODULE");
    ASSERT_EQ(first.status(), InstanceLock::Status::Acquired);
    EXPECT_EQ(InstanceLock::AcquireIn(folder.FolderPath(), "CORVALECLIENTMODULE").status(),
              InstanceLock::Status::HeldElsewhere);
    EXPECT_FALSE(AnotherProcessCouldTake(folder.FolderPath()));
    EXPECT_TRUE(InstanceLock::AcquireIn(folder.FolderPath(), "OTHERNAME").IsHeld());
}

TEST(InstanceLockTest, FreedWhenTheHolderGoesOrMoves) {
    TempFolder folder;
    {
        auto first = InstanceLock::AcquireIn(folder.FolderPath(), "CORVALECLIENTMODULE");
        InstanceLock moved = std::move(first);
        ASSERT_TRUE(moved.IsHeld());
        EXPECT_FALSE(AnotherProcessCouldTake(folder.FolderPath()));
    }
    EXPECT_TRUE(AnotherProcessCouldTake(folder.FolderPath()));
    EXPECT_TRUE(InstanceLock::AcquireIn(folder.FolderPath(), "CORVALECLIENTMODULE").IsHeld());
}

TEST(InstanceLockTest, FreedWhenTheHoldingProcessIsKilled) {
    TempFolder folder;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        auto lock = InstanceLock::AcquireIn(folder.FolderPath(), "CORVALECLIENTMODULE");
        const char byte = lock.IsHeld() ? 1 : 0;
        [[maybe_unused]] auto n = write(ready[1], &byte, 1);
        pause();
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, 1);
    EXPECT_EQ(InstanceLock::AcquireIn(folder.FolderPath(), "CORVALECLIENTMODULE").status(),
              InstanceLock::Status::HeldElsewhere);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    EXPECT_TRUE(InstanceLock::AcquireIn(folder.FolderPath(), "CORVALECLIENTMODULE").IsHeld());
}

TEST(InstanceLockTest, ProgramsStartedByTheHolderDoNotInheritIt) {
    TempFolder folder;
    pid_t child = 0;
    {
        auto lock = InstanceLock::AcquireIn(folder.FolderPath(), "CORVALECLIENTMODULE");
        ASSERT_TRUE(lock.IsHeld());
        char sleep[] = "sleep";
        char seconds[] = "30";
        char* argv[] = {sleep, seconds, nullptr};
        ASSERT_EQ(posix_spawnp(&child, "sleep", nullptr, nullptr, argv, environ), 0);
    }
    // The lock was released by its holder while the program it started still runs.
    EXPECT_TRUE(InstanceLock::AcquireIn(folder.FolderPath(), "CORVALECLIENTMODULE").IsHeld());
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

TEST(InstanceLockTest, MissingFolderGuardsNothing) {
    EXPECT_EQ(InstanceLock::AcquireIn("/nonexistent-folder/", "CORVALECLIENTMODULE").status(),
              InstanceLock::Status::Unavailable);
}

TEST(InstanceLockTest, UsesTheUserRuntimeFolder) {
    TempFolder folder;
    ScopedEnv runtime("XDG_RUNTIME_DIR", folder.FolderPath());
    auto lock = InstanceLock::Acquire("CORVALECLIENTMODULE");
    ASSERT_TRUE(lock.IsHeld());
    EXPECT_TRUE(fs::exists(folder.FolderPath() + "CORVALECLIENTMODULE.lock"));
}

TEST(RuntimeDirTest, FollowsXdgRuntimeDirAndEndsInSlash) {
    ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/4242");
    EXPECT_EQ(platform::UserRuntimeDir(), "/run/user/4242/");
}

TEST(RuntimeDirTest, FallsBackToAPrivateFolderInTheTemporaryFolder) {
    TempFolder temp;
    ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
    ScopedEnv tmpdir("TMPDIR", temp.FolderPath());
    const std::string expected = temp.FolderPath() + "corvale-" + std::to_string(geteuid()) + "/";
    EXPECT_EQ(platform::UserRuntimeDir(), expected);
    struct stat info {};
    ASSERT_EQ(stat(expected.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(platform::UserRuntimeDir(), expected); // the existing folder is reused
}

TEST(RuntimeDirTest, RefusesAFallbackFolderOthersCanEnter) {
    TempFolder temp;
    ScopedEnv runtime("XDG_RUNTIME_DIR", "relative/path"); // not absolute: ignored
    ScopedEnv tmpdir("TMPDIR", temp.FolderPath());
    const std::string folder = temp.FolderPath() + "corvale-" + std::to_string(geteuid());
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
    EXPECT_EQ(platform::UserRuntimeDir(), "");
    EXPECT_EQ(InstanceLock::Acquire("CORVALECLIENTMODULE").status(),
              InstanceLock::Status::Unavailable);
}

TEST(RuntimeDirTest, RefusesAFallbackThatIsALink) {
    TempFolder temp;
    TempFolder elsewhere;
    ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
    ScopedEnv tmpdir("TMPDIR", temp.FolderPath());
    const std::string folder = temp.FolderPath() + "corvale-" + std::to_string(geteuid());
    fs::create_directory_symlink(elsewhere.FolderPath(), folder);
    EXPECT_EQ(platform::UserRuntimeDir(), "");
}

} // namespace
