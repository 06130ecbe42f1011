// The private X session: it is ready only once the tray host owns the tray, and a tray host
// that dies says so with its exit status instead of leaving the tests to wait for an icon.

#include "tests/support/XSession.h"

#include "tests/support/ScopedEnv.h"

#include <gtest/gtest.h>

namespace testing_support {
namespace {

class XSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (FindProgram("Xvfb").empty() || FindProgram("trayer").empty()) {
            GTEST_SKIP() << "Xvfb or trayer is not installed";
        }
    }
    // The session sets DISPLAY for the test program.
    ScopedEnv display_{"DISPLAY", std::nullopt};
};

TEST_F(XSessionTest, TheTrayIsOwnedAsSoonAsTheSessionIsMade) {
    const XSession session;
    ASSERT_EQ(session.Failure(), "");
    EXPECT_TRUE(TraySelectionOwned(session.Display()));
}

TEST_F(XSessionTest, ATrayHostThatEndsIsAFailureWithItsExitStatus) {
    const XSession session({"sh", "-c", "exit 3"});
    EXPECT_FALSE(session.Missing());
    EXPECT_NE(session.Failure().find("sh ended with exit status 3"), std::string::npos)
        << session.Failure();
}

TEST_F(XSessionTest, AMissingTrayHostIsOnlyMissing) {
    const XSession session({"corvale-no-such-tray-host"});
    EXPECT_TRUE(session.Missing());
    EXPECT_NE(session.Failure().find("not installed"), std::string::npos) << session.Failure();
}

TEST(TraySelectionTest, NoServerMeansNoOwner) {
    EXPECT_FALSE(TraySelectionOwned(":4999"));
}

} // namespace
} // namespace testing_support
