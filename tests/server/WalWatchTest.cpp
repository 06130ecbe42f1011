// The sign that another connection may have committed: a write to the watched log since the
// last settled check, and "always" once the log can no longer be watched.

#include "server/WalWatch.h"

#include "tests/support/TempFolder.h"

#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

using server::WalWatch;

void Append(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "x", 1), 1);
    close(fd);
}

void Check(WalWatch& watch) {
    watch.BeginCheck();
    watch.EndCheck();
}

TEST(WalWatch, AWriteCountsUntilTheNextSettledCheck) {
    testing_support::TempFolder folder;
    const std::string log = folder / "db-wal";
    testing_support::WriteFile(log, "");
    WalWatch watch(log);
    EXPECT_TRUE(watch.MayHaveChanged()) << "never checked";
    Check(watch);
    EXPECT_FALSE(watch.MayHaveChanged());

    Append(log);
    EXPECT_TRUE(watch.MayHaveChanged()) << "the write is seen as soon as it returned";
    EXPECT_TRUE(watch.MayHaveChanged()) << "asking does not use it up";
    watch.BeginCheck();
    EXPECT_TRUE(watch.MayHaveChanged()) << "while a check is under way";
    watch.EndCheck();
    EXPECT_FALSE(watch.MayHaveChanged());

    watch.BeginCheck();
    Append(log); // during the check: the check may have missed it
    watch.EndCheck();
    EXPECT_TRUE(watch.MayHaveChanged());
    Check(watch);
    EXPECT_FALSE(watch.MayHaveChanged());
}

TEST(WalWatch, ALogThatCannotBeWatchedAlwaysMayHaveChanged) {
    testing_support::TempFolder folder;
    WalWatch missing(folder / "none-wal");
    Check(missing);
    EXPECT_TRUE(missing.MayHaveChanged()) << "no log to watch";

    const std::string log = folder / "db-wal";
    testing_support::WriteFile(log, "");
    WalWatch watch(log);
    Check(watch);
    ASSERT_FALSE(watch.MayHaveChanged());
    ASSERT_EQ(std::remove(log.c_str()), 0);
    Check(watch);
    testing_support::WriteFile(log, ""); // a new file the watch knows nothing of
    Check(watch);
    EXPECT_TRUE(watch.MayHaveChanged()) << "the watched log is gone for good";
}

} // namespace
