// The program under a real X session manager: at logout, when the manager asks it to save its
// state, it says it must never be restarted with the next session (the autostart entry is the
// one way to start with the session). An error on the way out goes to standard error when the
// session ends and to a box when the user ends the program, also after a cancelled logout;
// a termination signal ends the program even while that box waits.

#include "ProgramFixture.h"
#include "SessionManager.h"
#include "tests/support/TempFolder.h"

#include <X11/Xlib.h>
#include <csignal>
#include <filesystem>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// What a window manager sends when the user clicks the window's close button.
void CloseAsTheUserDoes(const std::string& windowId) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Window window = std::stoul(windowId);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XCloseDisplay(display); // sends it
}

class TSessionEndTest : public TProgramTest {
protected:
    // Starts the program under the manager, with its output kept, and waits until it runs.
    std::unique_ptr<ChildProcess> StartUnderManager(const std::string& ini) {
        WriteIni(ini);
        auto client = StartClient({}, {"SESSION_MANAGER=" + manager.Address()}, output.string());
        EXPECT_TRUE(manager.WaitForClient(15s)) << "the program never registered";
        EXPECT_TRUE(Eventually([&] { return ClientAnswers(); }));
        return client;
    }
    // The settings file has become a folder: writing it fails, even for the superuser.
    void MakeSettingsUnwritable() {
        fs::remove(folder / "corvale.ini");
        fs::create_directory(folder / "corvale.ini");
    }
    std::string Errors() const { return testing_support::ReadText(output); }
    std::string FailureText() const {
        return "Unable to write to " + (folder / "corvale.ini").string() + ".";
    }
    // The user closes the window: the error waits in a box, not on standard error, until a
    // termination signal closes the box and ends the program at once.
    void ExpectTheUsersCloseShowsABoxThatASignalEnds(ChildProcess& client) {
        const auto window = MainWindow();
        ASSERT_TRUE(window.has_value());
        CloseAsTheUserDoes(window->Id);
        ASSERT_TRUE(Eventually([&] { return !VisibleWindows("--name", "^Corvale$").empty(); }))
            << "the box of the user's close";
        EXPECT_TRUE(client.Running()) << "the box waits for the user";
        EXPECT_EQ(Errors().find("Unable to write to"), std::string::npos) << Errors();

        const auto signalled = std::chrono::steady_clock::now();
        client.Signal(SIGTERM);
        EXPECT_EQ(client.WaitForExit(5s), 0) << "the box must not hold the program";
        EXPECT_LT(std::chrono::steady_clock::now() - signalled, 1s);
        EXPECT_NE(Errors().find(FailureText()), std::string::npos) << Errors();
    }

    TSessionManager manager;
    fs::path output = folder / "client.log";
};

TEST_F(TSessionEndTest, TellsTheSessionManagerNeverToRestartIt) {
    ASSERT_EQ(manager.Failure(), "");
    auto client = StartUnderManager("start_hidden=0\n");
    ASSERT_TRUE(manager.SaveYourself(10s)) << "the save was never reported done";
    EXPECT_EQ(manager.Card8Property(SmRestartStyleHint), SmRestartNever);
    EXPECT_TRUE(client->Running()) << "saving the session does not end it";
}

// The logout goes ahead: the manager asks, then tells the program to end. Nobody may be there
// to dismiss a box, and the tray does not hold the program back.
TEST_F(TSessionEndTest, AtLogoutAnErrorOnTheWayOutGoesToStandardError) {
    ASSERT_EQ(manager.Failure(), "");
    auto client = StartUnderManager("min_to_tray=1\nstart_hidden=0\n");
    MakeSettingsUnwritable();
    ASSERT_TRUE(manager.SaveYourselfForShutdown(10s)) << "the save was never reported done";
    manager.Die();
    EXPECT_EQ(client->WaitForExit(10s), 0);
    EXPECT_NE(Errors().find(FailureText()), std::string::npos) << Errors();
}

TEST_F(TSessionEndTest, TheUsersCloseReportsInABoxThatASignalEnds) {
    ASSERT_EQ(manager.Failure(), "");
    auto client = StartUnderManager("start_hidden=0\n");
    MakeSettingsUnwritable();
    ExpectTheUsersCloseShowsABoxThatASignalEnds(*client);
}

TEST_F(TSessionEndTest, AfterACancelledLogoutTheCloseIsTheUsers) {
    ASSERT_EQ(manager.Failure(), "");
    auto client = StartUnderManager("start_hidden=0\n");
    ASSERT_TRUE(manager.SaveYourselfForShutdown(10s)) << "the save was never reported done";
    manager.CancelShutdown();
    EXPECT_TRUE(client->Running()) << "the session goes on";
    MakeSettingsUnwritable();
    ExpectTheUsersCloseShowsABoxThatASignalEnds(*client);
}

} // namespace
