// The end-of-session signals become a readable byte instead of ending the process.

#include "platform/TerminationSignal.h"

#include <csignal>
#include <gtest/gtest.h>
#include <poll.h>

namespace {

bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 1000) == 1;
}

bool ReadableNow(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1;
}

TEST(TerminationSignalTest, EachSignalIsNotedAndDrained) {
    const int fd = platform::TerminationSignalFd();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(platform::TerminationSignalFd(), fd);
    EXPECT_FALSE(ReadableNow(fd));
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        ASSERT_EQ(raise(signal), 0); // the process survives: the handler only notes it
        EXPECT_TRUE(Readable(fd)) << signal;
        platform::DrainTerminationSignals(fd);
        EXPECT_FALSE(ReadableNow(fd)) << signal;
    }
}

} // namespace
