// The single-instance guard and the runtime folder it lives in, with real files and processes.

#include "platform/InstanceLock.h"

#include "platform/RuntimeDir.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
    ScopedEnv runtime("CORVALE_RUNTIME_DIR", folder.FolderPath());
    auto lock = InstanceLock::Acquire("CORVALECLIENTMODULE");
    ASSERT_TRUE(lock.IsHeld());
    EXPECT_TRUE(fs::exists(folder.FolderPath() + "CORVALECLIENTMODULE.lock"));
}

// Age-based cleaning of /tmp, as the system's own cleaner does it (every entry older than no
// time at all goes), must pass over the folder of a running client.
TEST(InstanceLockTest, AgeBasedCleaningLeavesTheFolderOfAHeldLock) {
    if (system("command -v systemd-tmpfiles >/dev/null") != 0) {
        GTEST_SKIP() << "systemd-tmpfiles is not installed";
    }
    TempFolder root;
    TempFolder config;
    const std::string folder = root.FolderPath() + "corvale-0/";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string rules = config.FolderPath() + "clean.conf";
    std::ofstream(rules) << "e " << root.FolderPath() << " - - - 0\n";
    const std::string clean = "systemd-tmpfiles --clean " + rules + " 2>/dev/null";
    {
        auto lock = InstanceLock::AcquireIn(folder, "CORVALECLIENTMODULE");
        ASSERT_TRUE(lock.IsHeld());
        std::ofstream(root.FolderPath() + "stale") << "x";
        ASSERT_EQ(system(clean.c_str()), 0);
        EXPECT_FALSE(fs::exists(root.FolderPath() + "stale")) << "the cleaner did not run";
        EXPECT_TRUE(fs::exists(folder + "CORVALECLIENTMODULE.lock"));
    }
    ASSERT_EQ(system(clean.c_str()), 0);
    EXPECT_FALSE(fs::exists(folder)) << "released, the folder is the cleaner's again";
}

// A stand-in for /tmp. Whether the user has a session cannot matter here: the choice never
// looks at one (the whole-program test shows it with a session folder coming and going).
class RuntimeDirTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directory(tempRoot_); }
    std::string Place() const { return tempRoot_ + "corvale-" + uid_; }
    std::string Choose() const { return platform::UserRuntimeDirUnder(tempRoot_); }

    TempFolder base_;
    TempFolder elsewhere_;
    const std::string tempRoot_ = base_.FolderPath() + "tmp/";
    const std::string uid_ = std::to_string(geteuid());
};

TEST_F(RuntimeDirTest, MakesAPrivateFolderUnderTheTemporaryFolderAndReusesIt) {
    EXPECT_EQ(Choose(), Place() + "/");
    struct stat info {};
    ASSERT_EQ(lstat(Place().c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(Choose(), Place() + "/") << "the existing folder is reused";
}

TEST_F(RuntimeDirTest, RefusesAFolderOthersCanEnterOrThatIsALink) {
    ASSERT_EQ(mkdir(Place().c_str(), 0755), 0);
    ASSERT_EQ(chmod(Place().c_str(), 0755), 0);
    EXPECT_EQ(Choose(), "");
    fs::remove(Place());
    ASSERT_EQ(chmod(elsewhere_.Path().c_str(), 0700), 0);
    fs::create_directory_symlink(elsewhere_.Path(), Place());
    EXPECT_EQ(Choose(), "");
    if (geteuid() == 0) {
        fs::remove(Place());
        ASSERT_EQ(mkdir(Place().c_str(), 0700), 0);
        ASSERT_EQ(chown(Place().c_str(), 65534, 65534), 0);
        EXPECT_EQ(Choose(), "") << "made by another user first";
    }
}

// A folder named in CORVALE_RUNTIME_DIR is used only when it passes the checks the other
// places pass; anything else gives no folder at all rather than the shared one.
TEST(UserRuntimeDir, AChosenFolderMustBeAPrivateFolderOfOurs) {
    TempFolder base;
    const std::string root = base.FolderPath();
    ASSERT_EQ(mkdir((root + "private").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((root + "open").c_str(), 0700), 0);
    ASSERT_EQ(chmod((root + "open").c_str(), 0750), 0);
    fs::create_directory_symlink(root + "private", root + "link");
    std::ofstream(root + "file") << "x";
    struct TCase {
        std::string Value;
        std::string Expected;
    };
    const TCase cases[] = {
        {root + "private", root + "private/"},
        {root + "private/", root + "private/"},
        {root + "open", ""},
        {root + "link", ""},
        {root + "link/", ""},
        {root + "file", ""},
        {root + "missing", ""},
        {"relative/private", ""},
        {"", platform::UserRuntimeDirUnder("/tmp/")},
    };
    for (const TCase& c : cases) {
        ScopedEnv chosen("CORVALE_RUNTIME_DIR", c.Value);
        EXPECT_EQ(platform::UserRuntimeDir(), c.Expected) << "CORVALE_RUNTIME_DIR=" << c.Value;
    }
    if (geteuid() == 0) {
        ASSERT_EQ(chown((root + "private").c_str(), 65534, 65534), 0);
        ScopedEnv chosen("CORVALE_RUNTIME_DIR", root + "private");
        EXPECT_EQ(platform::UserRuntimeDir(), "") << "a folder of another user";
    }
}

// Starts with different environments (a login, ssh, cron, sudo -u) must all find one place.
TEST(UserRuntimeDir, DoesNotDependOnTheEnvironment) {
    ScopedEnv noChosenFolder("CORVALE_RUNTIME_DIR", std::nullopt);
    std::string first;
    {
        ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
        ScopedEnv tmpdir("TMPDIR", std::nullopt);
        first = platform::UserRuntimeDir();
    }
    TempFolder other;
    ScopedEnv runtime("XDG_RUNTIME_DIR", other.FolderPath());
    ScopedEnv tmpdir("TMPDIR", other.FolderPath());
    EXPECT_EQ(platform::UserRuntimeDir(), first);
    EXPECT_EQ(platform::UserRuntimeDir(), platform::UserRuntimeDirUnder("/tmp/"));
    EXPECT_TRUE(fs::is_empty(other.Path()));
}

} // namespace
