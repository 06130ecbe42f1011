// The machine's wake from sleep, as the login manager announces it on the system bus, starts
// an address check under the same rule as a change of the network: a stand-in of the login
// manager on a private system bus announces sleep and wake.

#include "mainwindow/LoginManagerStandIn.h"
#include "mainwindow/MainWindowFixture.h"
#include "support/FormAccess.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/QtWait.h"

#include <QElapsedTimer>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <unistd.h>

using testing_support::PrivateBus;
using testing_support::RunEventsFor;
using namespace std::chrono_literals;

namespace {

// Past the settle time and the most jitter, with room to spare.
constexpr auto kPastSettle = 3500ms;

class TMainWindowWakeTest : public TMainWindowTest {
protected:
    void SetUp() override {
        TMainWindowTest::SetUp();
        if (!bus_.Failure().empty()) {
            GTEST_SKIP() << "no private system bus: " << bus_.Failure();
        }
    }

    std::unique_ptr<TLoginManagerStandIn>
    StartLoginManager(TLoginManagerStandIn::Name name = TLoginManagerStandIn::Name::Owned) {
        auto standIn =
            std::make_unique<TLoginManagerStandIn>(QString::fromStdString(bus_.Address()), name);
        EXPECT_TRUE(standIn->Failure().isEmpty()) << standIn->Failure().toStdString();
        return standIn;
    }

    PrivateBus bus_{PrivateBus::Kind::System};
    testing_support::ScopedEnv busAddress_{"DBUS_SYSTEM_BUS_ADDRESS", bus_.Address()};
};

TEST_F(TMainWindowWakeTest, AWakeGivesOneCheckAfterTheSettleTimeAndSleepGivesNone) {
    const auto loginManager = StartLoginManager();
    ASSERT_TRUE(loginManager->Failure().isEmpty());
    CreateWindow();
    ASSERT_TRUE(WaitForFirstAddress());

    ASSERT_TRUE(loginManager->PrepareForSleep(true));
    RunEventsFor(kPastSettle);
    EXPECT_EQ(Requests("getip").size(), 1u) << "going to sleep starts no check";

    QElapsedTimer since;
    since.start();
    ASSERT_TRUE(loginManager->PrepareForSleep(false));
    ASSERT_TRUE(WaitForRequests("getip", 2));
    EXPECT_GE(since.elapsed(), 2000) << "the settle time applies";
    RunEventsFor(kPastSettle);
    EXPECT_EQ(Requests("getip").size(), 2u);
}

TEST_F(TMainWindowWakeTest, AWakeAndTheNetworkChangesAfterItGiveOneCheck) {
    const auto loginManager = StartLoginManager();
    ASSERT_TRUE(loginManager->Failure().isEmpty());
    auto& w = CreateWindow();
    ASSERT_TRUE(WaitForFirstAddress());
    ASSERT_TRUE(loginManager->PrepareForSleep(false));
    w.NetworkChangedForTests();
    w.NetworkChangedForTests();
    ASSERT_TRUE(WaitForRequests("getip", 2));
    RunEventsFor(kPastSettle);
    EXPECT_EQ(Requests("getip").size(), 2u);
}

TEST_F(TMainWindowWakeTest, ALoginManagerThatStartsAfterTheProgramIsHeard) {
    CreateWindow();
    ASSERT_TRUE(WaitForFirstAddress());
    const auto loginManager = StartLoginManager();
    ASSERT_TRUE(loginManager->Failure().isEmpty());
    RunEventsFor(300ms); // the window's bus connection learns the new owner
    ASSERT_TRUE(loginManager->PrepareForSleep(false));
    EXPECT_TRUE(WaitForRequests("getip", 2));
}

// Anyone on the bus may send a signal with the login manager's path and interface; only the
// owner of its name is the login manager.
TEST_F(TMainWindowWakeTest, AWakeAnnouncedByAnotherProgramIsIgnored) {
    const auto loginManager = StartLoginManager();
    const auto impostor = StartLoginManager(TLoginManagerStandIn::Name::NotOwned);
    ASSERT_TRUE(loginManager->Failure().isEmpty());
    ASSERT_TRUE(impostor->Failure().isEmpty());
    CreateWindow();
    ASSERT_TRUE(WaitForFirstAddress());
    ASSERT_TRUE(impostor->PrepareForSleep(false));
    RunEventsFor(kPastSettle);
    EXPECT_EQ(Requests("getip").size(), 1u);
}

TEST_F(TMainWindowWakeTest, NoCheckOnWakeWhileActiveIsOff) {
    const auto loginManager = StartLoginManager();
    ASSERT_TRUE(loginManager->Failure().isEmpty());
    auto& w = CreateWindow();
    ASSERT_TRUE(WaitForFirstAddress());
    ASSERT_TRUE(TriggerAction(w, "_Active"));
    ASSERT_TRUE(loginManager->PrepareForSleep(false));
    RunEventsFor(kPastSettle);
    EXPECT_EQ(Requests("getip").size(), 1u);
}

// What the program writes on standard error while it lives.
class TStandardErrorCapture {
public:
    explicit TStandardErrorCapture(std::string file) : file_(std::move(file)) {
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        const int into = open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(into, STDERR_FILENO);
        close(into);
    }
    ~TStandardErrorCapture() { Stop(); }
    TStandardErrorCapture(const TStandardErrorCapture&) = delete;
    TStandardErrorCapture& operator=(const TStandardErrorCapture&) = delete;

    std::string Stop() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            dup2(saved_, STDERR_FILENO);
            close(saved_);
            saved_ = -1;
        }
        std::ostringstream text;
        text << std::ifstream(file_).rdbuf();
        return text.str();
    }

private:
    std::string file_;
    int saved_ = -1;
};

int LinesWith(const std::string& text, const std::string& word) {
    std::istringstream lines(text);
    int count = 0;
    for (std::string line; std::getline(lines, line);) {
        count += line.find(word) != std::string::npos ? 1 : 0;
    }
    return count;
}

// No system bus at all: the window checks at its start and on a change of the network as
// always, and says once that a wake is not watched.
class TMainWindowWithoutSystemBusTest : public TMainWindowTest {
protected:
    testing_support::ScopedEnv busAddress_{"DBUS_SYSTEM_BUS_ADDRESS",
                                           "unix:path=" + (folder / "no-system-bus").string()};
};

TEST_F(TMainWindowWithoutSystemBusTest, TheProgramRunsAndChecksAsUsualAndSaysSoOnce) {
    TStandardErrorCapture capture((folder / "stderr.txt").string());
    auto& w = CreateWindow();
    ASSERT_TRUE(WaitForFirstAddress());
    w.NetworkChangedForTests();
    ASSERT_TRUE(WaitForRequests("getip", 2));
    const std::string said = capture.Stop();
    EXPECT_EQ(LinesWith(said, "sleep"), 1) << said;
}

} // namespace
