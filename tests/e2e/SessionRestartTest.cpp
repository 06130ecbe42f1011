// The program under a real X session manager: at logout, when the manager asks it to save its
// state, it says it must never be restarted with the next session (the autostart entry is the
// one way to start with the session).

#include "ProgramFixture.h"
#include "SessionManager.h"

using namespace std::chrono_literals;

namespace {

TEST_F(TProgramTest, TellsTheSessionManagerNeverToRestartIt) {
    TSessionManager manager;
    ASSERT_EQ(manager.Failure(), "");
    WriteIni("start_hidden=0\n");
    auto client = StartClient({}, {"SESSION_MANAGER=" + manager.Address()});
    ASSERT_TRUE(manager.WaitForClient(15s)) << "the program never registered";
    ASSERT_TRUE(Eventually([&] { return ClientAnswers(); }));

    ASSERT_TRUE(manager.SaveYourself(10s)) << "the save was never reported done";
    EXPECT_EQ(manager.Card8Property(SmRestartStyleHint), SmRestartNever);
    EXPECT_TRUE(client->Running()) << "saving the session does not end it";
}

} // namespace
