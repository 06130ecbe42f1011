// The whole program as a user and other programs meet it: a second start, the clean-up after
// an update, the account shown in the caption, the tray click, and the end of the session.

#include "ProgramFixture.h"
#include "ReferenceService.h"
#include "platform/System.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TempFolder.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sched.h>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

TEST_F(TProgramTest, ASecondStartSaysSoAndEndsWithExitCodeZero) {
    WriteIni("start_hidden=0\n");
    auto first = StartClient();
    ASSERT_TRUE(Eventually([&] { return ClientAnswers(); }));
    std::ofstream(folder / "leftover") << "x";

    // The command line of a second copy is not even looked at.
    auto second = StartClient({"/postupdate", (folder / "leftover").string()});
    std::vector<TXWindow> box;
    ASSERT_TRUE(Eventually([&] {
        box = VisibleWindows("--name", "^Corvale$");
        return !box.empty();
    })) << "no box captioned Corvale";
    EXPECT_TRUE(second->Running()) << "the box waits for the user";
    RunAndRead("xdotool", {"key", "--window", box[0].Id, "Return"});
    EXPECT_EQ(second->WaitForExit(10s), 0);
    EXPECT_TRUE(fs::exists(folder / "leftover"));
    EXPECT_TRUE(first->Running());
    EXPECT_TRUE(ClientAnswers()) << "the first copy is untouched";
}

// The places a start could take for its lock, made private to this test: /run/user, where a
// session's folder comes and goes with the user's logins, and the lock's place under /tmp, in
// a folder of the test's own so that a client of the machine's user is not met. Only the
// calling thread and the children it starts see them.
class TPrivateLockPlaces {
public:
    explicit TPrivateLockPlaces(const fs::path& scratch)
        : lockPlace_("/tmp/corvale-" + std::to_string(geteuid())) {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            failure_ = std::string("no mount namespace of the test's own: ") + std::strerror(errno);
            return;
        }
        std::error_code ignored;
        fs::create_directories("/run/user", ignored);
        fs::create_directory(lockPlace_, ignored);
        fs::create_directory(scratch, ignored);
        fs::permissions(scratch, fs::perms::owner_all, ignored);
        if (mount("tmpfs", "/run/user", "tmpfs", 0, "mode=0755") != 0 ||
            mount(scratch.c_str(), lockPlace_.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            failure_ = std::string("cannot mount the private places: ") + std::strerror(errno);
        }
    }
    ~TPrivateLockPlaces() {
        umount2(lockPlace_.c_str(), MNT_DETACH);
        umount2("/run/user", MNT_DETACH);
    }
    TPrivateLockPlaces(const TPrivateLockPlaces&) = delete;
    TPrivateLockPlaces& operator=(const TPrivateLockPlaces&) = delete;

    const std::string& Failure() const { return failure_; }
    const fs::path& LockPlace() const { return lockPlace_; }

private:
    fs::path lockPlace_;
    std::string failure_;
};

// ssh, cron, su and sudo -u set XDG_RUNTIME_DIR differently or not at all, and the session's
// folder exists only between the user's first login and last logout; the guard must not care,
// and a copy started where no display exists says so on standard error.
TEST_F(TProgramTest, ASecondStartIsRefusedWhateverItsEnvironment) {
    const fs::path session = "/run/user/" + std::to_string(geteuid());
    const std::string inSession = "XDG_RUNTIME_DIR=" + session.string();
    struct TCase {
        const char* Name;
        bool SessionAtFirstStart;
    };
    for (const TCase& c : {TCase{"a login after the first start", false},
                           TCase{"a logout after the first start", true}}) {
        SCOPED_TRACE(c.Name);
        TPrivateLockPlaces places(
            folder / (std::string("lock-place-") + (c.SessionAtFirstStart ? "b" : "a")));
        ASSERT_EQ(places.Failure(), "");
        const auto openSession = [&] {
            fs::create_directory(session);
            fs::permissions(session, fs::perms::owner_all);
        };
        if (c.SessionAtFirstStart) {
            openSession();
        }
        WriteIni("start_hidden=0\n");
        auto first = StartClient(
            {}, {"CORVALE_RUNTIME_DIR=", c.SessionAtFirstStart ? inSession : "XDG_RUNTIME_DIR="});
        ASSERT_TRUE(Eventually([&] { return ClientAnswersIn(places.LockPlace()); }));
        if (c.SessionAtFirstStart) {
            fs::remove_all(session);
        } else {
            openSession();
        }

        const fs::path output = folder / (std::string("second-") + c.Name + ".log");
        auto second = StartClient({},
                                  {"CORVALE_RUNTIME_DIR=", "DISPLAY=", "QT_QPA_PLATFORM=",
                                   c.SessionAtFirstStart ? "XDG_RUNTIME_DIR=" : inSession},
                                  output.string());
        EXPECT_EQ(second->WaitForExit(10s), 0);
        EXPECT_EQ(testing_support::ReadText(output), "Corvale is already running !\n");
        EXPECT_TRUE(first->Running());
        EXPECT_TRUE(ClientAnswersIn(places.LockPlace())) << "the first copy is untouched";
    }
}

// A platform named in the environment is no display: a profile that exports one for the
// desktop session reaches ssh and cron too, where no display exists.
TEST_F(TProgramTest, ASecondStartWithAPlatformButNoDisplaySaysSoOnStandardError) {
    WriteIni("start_hidden=0\n");
    auto first = StartClient();
    ASSERT_TRUE(Eventually([&] { return ClientAnswers(); }));

    int attempt = 0;
    for (const char* platform : {"xcb", "wayland", "wayland;xcb"}) {
        SCOPED_TRACE(platform);
        const fs::path output = folder / ("second-" + std::to_string(++attempt) + ".log");
        auto second = StartClient(
            {}, {"DISPLAY=", "WAYLAND_DISPLAY=", std::string("QT_QPA_PLATFORM=") + platform},
            output.string());
        EXPECT_EQ(second->WaitForExit(10s), 0);
        EXPECT_EQ(testing_support::ReadText(output), "Corvale is already running !\n");
    }
    EXPECT_TRUE(first->Running());
    EXPECT_TRUE(ClientAnswers()) << "the first copy is untouched";
}

TEST_F(TProgramTest, WithoutAnyPlaceForTheLockItSaysSoOnceAndRuns) {
    WriteIni("start_hidden=0\n");
    const fs::path output = folder / "client.log";
    auto client =
        StartClient({}, {"CORVALE_RUNTIME_DIR=" + (folder / "missing").string()}, output.string());
    ASSERT_TRUE(Eventually([&] { return MainWindow().has_value(); })) << "the program runs";
    const std::string text = testing_support::ReadText(output);
    const std::string line = "corvale: no single-instance lock can be had";
    EXPECT_NE(text.find(line), std::string::npos) << text;
    EXPECT_EQ(text.find(line), text.rfind(line)) << "one line, not one per attempt";
}

TEST_F(TProgramTest, PostUpdateRemovesTheFileAboutTwoSecondsAfterStart) {
    std::ofstream(folder / "update.tmp") << "x";
    const auto started = std::chrono::steady_clock::now();
    auto client = StartClient({"/postupdate", (folder / "update.tmp").string()});
    ASSERT_TRUE(Eventually([&] { return !fs::exists(folder / "update.tmp"); }, 15s));
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_GE(elapsed, 1900ms);
    EXPECT_LT(elapsed, 10s);
    EXPECT_TRUE(Eventually([&] { return ClientAnswers(); })) << "and then starts as usual";
}

TEST_F(TProgramTest, PostUpdateInCapitalsIsIgnored) {
    std::ofstream(folder / "update.tmp") << "x";
    auto client = StartClient({"/POSTUPDATE", (folder / "update.tmp").string()});
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(Eventually([&] { return ClientAnswers(); }));
    // A start without the wait takes a few hundred milliseconds; a build that runs slower
    // (the race detector's run) stretches that as well.
    EXPECT_LT(std::chrono::steady_clock::now() - started, testing_support::Scaled(1900ms))
        << "no wait either";
    std::this_thread::sleep_for(2500ms); // past the moment the clean-up would have happened
    EXPECT_TRUE(fs::exists(folder / "update.tmp"));
}

TEST_F(TProgramTest, ATrayClickHidesAndShowsTheWindow) {
    WriteIni("start_hidden=0\n");
    auto client = StartClient();
    ASSERT_TRUE(Eventually([&] { return MainWindow().has_value(); }));
    std::optional<TXWindow> icon;
    ASSERT_TRUE(Eventually([&] {
        for (const TXWindow& window : VisibleWindows("--class", "^corvale$")) {
            if (window.Width > 0 && window.Width <= 64 && window.Height <= 64) {
                icon = window;
            }
        }
        return icon.has_value();
    })) << "the icon never docked";
    const auto click = [&] {
        RunAndRead("xdotool", {"mousemove", std::to_string(icon->X + icon->Width / 2),
                               std::to_string(icon->Y + icon->Height / 2), "click", "1"});
    };
    click();
    EXPECT_TRUE(Eventually([&] { return !MainWindow().has_value(); })) << "hidden";
    std::this_thread::sleep_for(600ms); // two clicks closer than this make a double click
    click();
    EXPECT_TRUE(Eventually([&] { return MainWindow().has_value(); })) << "shown again";
}

TEST_F(TProgramTest, TheEndOfTheSessionEndsItCleanlyEvenWithMinToTray) {
    WriteIni("min_to_tray=1\nstart_hidden=0\n");
    auto client = StartClient();
    ASSERT_TRUE(Eventually([&] { return ClientAnswers(); }));
    client->Signal(SIGTERM);
    EXPECT_EQ(client->WaitForExit(10s), 0);
    EXPECT_NE(testing_support::ReadText(folder / "corvale.ini").find("[Columns]\nip=32,100,140\n"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(folder / "runtime" / "Corvale_EXE")) << "the socket is gone";
    auto next = StartClient();
    EXPECT_TRUE(Eventually([&] { return ClientAnswers(); })) << "the next start is free to run";
}

// Logout and shutdown send SIGTERM and wait only so long: an error on the way out (here the
// column widths, whose settings file has become a folder) must not wait for a click.
TEST_F(TProgramTest, AtTheEndOfTheSessionAnErrorGoesToStandardErrorNotABox) {
    WriteIni("start_hidden=0\n");
    const fs::path output = folder / "client.log";
    auto client = StartClient({}, {}, output.string());
    ASSERT_TRUE(Eventually([&] { return ClientAnswers(); }));
    fs::remove(folder / "corvale.ini");
    fs::create_directory(folder / "corvale.ini");
    const auto signalled = std::chrono::steady_clock::now();
    client->Signal(SIGTERM);
    EXPECT_EQ(client->WaitForExit(10s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 2s);
    const std::string errors = testing_support::ReadText(output);
    EXPECT_NE(errors.find("Unable to write to " + (folder / "corvale.ini").string() + "."),
              std::string::npos)
        << errors;
}

// Tasks are never waited for: one blocked in a read of a service that does not answer, or
// one waiting on its error box, must neither hang nor crash the end of the program.
TEST_F(TProgramTest, EndsAtOnceWhileATaskWaitsForTheService) {
    testing_support::LoopbackServer silent;
    testing_support::ScriptedReply hang;
    hang.ending = testing_support::ScriptedReply::Ending::Hang;
    silent.SetFallback(hang);
    WriteIni("service=127.0.0.1:" + std::to_string(silent.Port()) + "\n");
    auto client = StartClient();
    ASSERT_TRUE(silent.WaitForRequests(1)); // the start-up check now waits for an answer
    ASSERT_TRUE(Eventually([&] { return ClientAnswers(); }));
    client->Signal(SIGTERM);
    EXPECT_EQ(client->WaitForExit(5s), 0);
}

TEST_F(TProgramTest, EndsAtOnceWhileATaskWaitsOnItsBox) {
    testing_support::LoopbackServer failing;
    failing.SetFallback(testing_support::ScriptedReply::Http("ERR Something went wrong"));
    WriteIni("service=127.0.0.1:" + std::to_string(failing.Port()) + "\n");
    auto client = StartClient();
    ASSERT_TRUE(Eventually([&] { return !VisibleWindows("--name", "^Error$").empty(); }))
        << "the start-up check's error box";
    client->Signal(SIGTERM);
    EXPECT_EQ(client->WaitForExit(5s), 0);
}

#ifdef CORVALE_SERVER
TEST_F(TProgramTest, AgainstTheReferenceServiceTheCaptionShowsTheAccount) {
    TReferenceService service(folder);
    ASSERT_GT(service.Port, 0);
    ASSERT_FALSE(service.StoredPassword.empty());
    WriteIni("service=127.0.0.1:" + std::to_string(service.Port) +
             "\nid=demo\npassword=" + service.StoredPassword + "\nstart_hidden=0\n");
    auto client = StartClient();
    const std::string expected = "Corvale 0.3.11 - demo on " + platform::ComputerName();
    std::string caption;
    EXPECT_TRUE(Eventually([&] {
        const auto window = MainWindow();
        caption = window ? window->Name : std::string();
        return caption == expected;
    })) << caption;
}
#endif

} // namespace
