// The whole program with a tray that speaks the status-notifier protocol over D-Bus, as the
// panels of most current desktops do: on X11 beside an X tray host (the D-Bus tray wins), and
// under a Wayland compositor, where it is the only tray there is. Each test has a private
// bus with a watcher and host of its own; the test plays the panel.

#include "ProgramFixture.h"
#include "TestTrayHost.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/QtApplicationEnvironment.h"
#include "tests/support/QtWait.h"
#include "tests/support/TempFolder.h"

#include <QCoreApplication>
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::LoopbackServer;
using testing_support::RunEventsFor;
using testing_support::ScriptedReply;
using testing_support::WaitFor;

// The waits here let the test's events run (WaitFor): the program calls the watcher and
// blocks until it answers.
namespace {

// QtDBus needs an application object on the test's own thread.
const auto* const registered = testing_support::RegisterQtApplication<QCoreApplication>("sni-test");

const std::string kVersionText = "Corvale 0.3.11 (build 25)";

// Menu labels without their mnemonic marks.
QString Plain(const TMenuEntry& entry) {
    return entry.Label().remove(QLatin1Char('_'));
}

std::vector<std::string> VisibleCommands(const std::vector<TMenuEntry>& menu) {
    std::vector<std::string> labels;
    for (const TMenuEntry& entry : menu) {
        if (entry.Visible() && !entry.Separator()) {
            labels.push_back(Plain(entry).toStdString());
        }
    }
    return labels;
}

std::optional<TMenuEntry> Find(const std::vector<TMenuEntry>& menu, const QString& label) {
    for (const TMenuEntry& entry : menu) {
        if (Plain(entry) == label) {
            return entry;
        }
    }
    return std::nullopt;
}

std::size_t CountRequests(const LoopbackServer& service, const std::string& action) {
    const auto requests = service.Requests();
    return std::count_if(requests.begin(), requests.end(), [&](const std::string& request) {
        const std::string key = "action=" + action;
        const auto at = request.find(key);
        return at != std::string::npos &&
               (request[at + key.size()] == '&' || request[at + key.size()] == ' ');
    });
}

class TStatusNotifierTest : public TProgramTest {
protected:
    void SetUp() override {
        TProgramTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        bus = std::make_unique<testing_support::PrivateBus>();
        if (!bus->Failure().empty()) {
            GTEST_SKIP() << "no private D-Bus session: " << bus->Failure();
        }
        host = std::make_unique<TTestTrayHost>(QString::fromStdString(bus->Address()));
        ASSERT_TRUE(host->Failure().isEmpty()) << host->Failure().toStdString();
        service.SetFallback(ScriptedReply::Http("OK 192.0.2.7 192.0.2.7"));
        WriteIni("service=127.0.0.1:" + std::to_string(service.Port()) +
                 "\nstart_hidden=0\nactive=1\n");
    }
    void TearDown() override {
        client.reset();
        host.reset();
        bus.reset();
        TProgramTest::TearDown();
    }

    void Start(std::vector<std::string> environment = {}) {
        environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus->Address());
        client = StartClient({}, environment, (folder / "client.log").string());
        ASSERT_TRUE(WaitFor([&] { return !host->Items().isEmpty(); }, 20s))
            << "the icon never registered with the watcher\n"
            << testing_support::ReadText(folder / "client.log");
    }

    // The program may call the watcher while it ends, so the test keeps answering meanwhile.
    std::optional<int> ExitCode() {
        WaitFor([&] { return !client->Running(); }, 10s);
        return client->WaitForExit(0ms);
    }

    // The label of the open/close command, as the panel would show the menu now.
    QString OpenCloseLabel() {
        const auto menu = host->MenuLayout();
        return menu.empty() ? QString() : Plain(menu.front());
    }

    LoopbackServer service;
    std::unique_ptr<testing_support::PrivateBus> bus;
    std::unique_ptr<TTestTrayHost> host;
    std::unique_ptr<ChildProcess> client;
};

TEST_F(TStatusNotifierTest, TheIconRegistersAndItsTipShowsEachNewAddress) {
    ScriptedReply first = ScriptedReply::Http("OK 192.0.2.7 192.0.2.7");
    first.held = true;
    service.Enqueue(first);
    Start();
    EXPECT_EQ(host->ItemProperty(QStringLiteral("Status")).toString(), QStringLiteral("Active"));
    EXPECT_EQ(host->ToolTipTitle().toStdString(), "Corvale") << "before the first check's answer";

    service.ReleaseHeldReplies();
    EXPECT_TRUE(WaitFor([&] {
        return host->ToolTipTitle().toStdString() == kVersionText + ": 192.0.2.7";
    })) << host->ToolTipTitle().toStdString();

    // A new address, seen by a check that switching the checking on again starts.
    service.SetFallback(ScriptedReply::Http("OK 203.0.113.9 203.0.113.9"));
    auto active = Find(host->MenuLayout(), QStringLiteral("Active"));
    ASSERT_TRUE(active);
    ASSERT_TRUE(host->ClickMenuEntry(active->Id)); // off
    ASSERT_TRUE(WaitFor([&] {
        auto entry = Find(host->MenuLayout(), QStringLiteral("Active"));
        return entry && entry->ToggleState() == 0;
    }));
    ASSERT_TRUE(host->ClickMenuEntry(active->Id)); // on: checks at once
    EXPECT_TRUE(WaitFor([&] {
        return host->ToolTipTitle().toStdString() == kVersionText + ": 203.0.113.9";
    })) << host->ToolTipTitle().toStdString();
}

TEST_F(TStatusNotifierTest, ActivateHidesAndShowsTheWindow) {
    Start();
    ASSERT_TRUE(WaitFor([&] { return MainWindow().has_value(); }))
        << "no main window\n"
        << testing_support::ReadText(folder / "client.log");
    ASSERT_TRUE(host->Activate());
    EXPECT_TRUE(WaitFor([&] { return !MainWindow().has_value(); })) << "hidden";
    EXPECT_EQ(OpenCloseLabel(), QStringLiteral("Open"));
    ASSERT_TRUE(host->Activate());
    EXPECT_TRUE(WaitFor([&] { return MainWindow().has_value(); })) << "shown again";
    EXPECT_EQ(OpenCloseLabel(), QStringLiteral("Hide"));
}

// A panel that draws no menu of its own asks the program to open it.
TEST_F(TStatusNotifierTest, ContextMenuOpensTheTrayMenu) {
    Start();
    ASSERT_TRUE(WaitFor([&] { return MainWindow().has_value(); }))
        << "no main window\n"
        << testing_support::ReadText(folder / "client.log");
    const auto popups = [&] {
        std::vector<TXWindow> found;
        for (const TXWindow& window : VisibleWindows("--class", "^corvale$")) {
            if (window.Name.rfind("Corvale 0.3.11", 0) != 0 && window.Height > 100) {
                found.push_back(window);
            }
        }
        return found;
    };
    ASSERT_TRUE(popups().empty());
    ASSERT_TRUE(host->ContextMenu());
    std::vector<TXWindow> menu;
    EXPECT_TRUE(WaitFor([&] {
        menu = popups();
        return !menu.empty();
    })) << "no menu opened";
    if (!menu.empty()) {
        RunAndRead("xdotool", {"key", "Escape"}); // the open menu has the keyboard
    }
}

// There is no double click on such a tray: everything the tray offers must be in its menu.
TEST_F(TStatusNotifierTest, EveryTrayCommandIsInTheExportedMenuAndWorks) {
    const fs::path bin = folder / "bin";
    fs::create_directory(bin);
    std::ofstream(bin / "xdg-open")
        << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << (folder / "opened").string() << "'\n";
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    Start({"PATH=" + bin.string() + ":/usr/bin:/bin"});
    ASSERT_TRUE(WaitFor([&] { return MainWindow().has_value(); }))
        << "no main window\n"
        << testing_support::ReadText(folder / "client.log");
    ASSERT_TRUE(WaitFor([&] { return CountRequests(service, "getip") >= 1; }));

    const auto menu = host->MenuLayout();
    EXPECT_EQ(VisibleCommands(menu),
              (std::vector<std::string>{"Hide", "Active", "Copy IP", "Home Page...",
                                        "Check for updates...", "About...", "Exit"}));
    ASSERT_TRUE(Find(menu, QStringLiteral("Portlynx"))) << "there, hidden without the module";

    const auto click = [&](const QString& label) {
        const auto entry = Find(host->MenuLayout(), label);
        ASSERT_TRUE(entry) << label.toStdString();
        EXPECT_TRUE(entry->Enabled()) << label.toStdString();
        ASSERT_TRUE(host->ClickMenuEntry(entry->Id)) << label.toStdString();
    };

    click(QStringLiteral("Hide"));
    EXPECT_TRUE(WaitFor([&] { return !MainWindow().has_value(); })) << "Hide hides";
    click(QStringLiteral("About..."));
    EXPECT_TRUE(WaitFor([&] { return MainWindow().has_value(); })) << "About shows the window";

    EXPECT_EQ(Find(host->MenuLayout(), QStringLiteral("Active"))->ToggleState(), 1);
    click(QStringLiteral("Active"));
    EXPECT_TRUE(WaitFor([&] {
        return Find(host->MenuLayout(), QStringLiteral("Active"))->ToggleState() == 0;
    })) << "Active switches the checking off";
    const std::size_t checks = CountRequests(service, "getip");
    click(QStringLiteral("Active"));
    EXPECT_TRUE(WaitFor([&] { return CountRequests(service, "getip") > checks; }))
        << "and on again, with a check";

    click(QStringLiteral("Check for updates..."));
    EXPECT_TRUE(WaitFor([&] { return CountRequests(service, "clver") >= 1; })) << "a version check";

    click(QStringLiteral("Home Page..."));
    EXPECT_TRUE(WaitFor([&] {
        return testing_support::ReadText(folder / "opened").find("/tools/corvale/") !=
               std::string::npos;
    })) << testing_support::ReadText(folder / "opened");

    click(QStringLiteral("Copy IP")); // its effect is on the clipboard, checked elsewhere

    click(QStringLiteral("Exit"));
    EXPECT_EQ(ExitCode(), 0);
}

// A headless Wayland compositor with a runtime folder of its own; ends with this object.
class TWaylandSession {
public:
    explicit TWaylandSession(const fs::path& runtime) : runtime_(runtime) {
        const std::string weston = FindWeston();
        if (weston.empty()) {
            failure_ = "weston is not installed";
            return;
        }
        if (access("/usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqwayland-generic.so",
                   R_OK) != 0 &&
            access("/usr/lib/qt6/plugins/platforms/libqwayland-generic.so", R_OK) != 0) {
            failure_ = "Qt's Wayland platform (qt6-wayland) is not installed";
            return;
        }
        fs::create_directory(runtime_);
        fs::permissions(runtime_, fs::perms::owner_all);
        const std::string runtimeVar = "XDG_RUNTIME_DIR=" + runtime_.string();
        const std::string log = (runtime_ / "weston.log").string();
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) {
                _exit(127);
            }
            const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
            char* const environment[] = {const_cast<char*>(runtimeVar.c_str()), nullptr};
            execle(weston.c_str(), weston.c_str(), "--backend=headless-backend.so",
                   "--socket=wayland-test", "--idle-time=0", "--width=1024", "--height=768",
                   static_cast<char*>(nullptr), environment);
            _exit(127);
        }
        if (!Eventually([&] { return fs::exists(runtime_ / "wayland-test"); }, 10s)) {
            failure_ = "weston did not start: " + testing_support::ReadText(log);
        }
    }
    ~TWaylandSession() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& Failure() const { return failure_; }
    std::vector<std::string> ClientEnvironment() const {
        return {"QT_QPA_PLATFORM=wayland", "WAYLAND_DISPLAY=wayland-test",
                "XDG_RUNTIME_DIR=" + runtime_.string(), "DISPLAY="};
    }

private:
    static std::string FindWeston() {
        return access("/usr/bin/weston", X_OK) == 0 ? "/usr/bin/weston" : std::string();
    }
    fs::path runtime_;
    pid_t pid_ = -1;
    std::string failure_;
};

class TWaylandTest : public TStatusNotifierTest {
protected:
    void SetUp() override {
        TStatusNotifierTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        wayland = std::make_unique<TWaylandSession>(folder / "wayland-runtime");
        if (!wayland->Failure().empty()) {
            GTEST_SKIP() << "no Wayland compositor: " << wayland->Failure();
        }
    }
    void TearDown() override {
        TStatusNotifierTest::TearDown();
        wayland.reset();
    }
    std::unique_ptr<TWaylandSession> wayland;
};

TEST_F(TWaylandTest, ShowsHidesThroughTheTrayAndEndsCleanly) {
    Start(wayland->ClientEnvironment());
    EXPECT_TRUE(WaitFor([&] { return OpenCloseLabel() == QStringLiteral("Hide"); }))
        << "the window is shown at start";
    EXPECT_TRUE(WaitFor(
        [&] { return host->ToolTipTitle().toStdString() == kVersionText + ": 192.0.2.7"; }));
    ASSERT_TRUE(host->Activate());
    EXPECT_TRUE(WaitFor([&] { return OpenCloseLabel() == QStringLiteral("Open"); })) << "hidden";
    ASSERT_TRUE(host->Activate());
    EXPECT_TRUE(WaitFor([&] { return OpenCloseLabel() == QStringLiteral("Hide"); })) << "shown";
    // A panel that asks the program to open the menu: the compositor places it.
    ASSERT_TRUE(host->ContextMenu());
    RunEventsFor(500ms);
    EXPECT_TRUE(client->Running()) << testing_support::ReadText(folder / "client.log");
    EXPECT_TRUE(ClientAnswers());

    client->Signal(SIGTERM);
    EXPECT_EQ(ExitCode(), 0) << testing_support::ReadText(folder / "client.log");
    EXPECT_NE(testing_support::ReadText(folder / "corvale.ini").find("[Columns]"),
              std::string::npos)
        << "the exit saved the settings";
}

TEST_F(TWaylandTest, ExitFromTheExportedMenuEndsIt) {
    Start(wayland->ClientEnvironment());
    auto exit = Find(host->MenuLayout(), QStringLiteral("Exit"));
    ASSERT_TRUE(exit);
    ASSERT_TRUE(host->ClickMenuEntry(exit->Id));
    EXPECT_EQ(ExitCode(), 0) << testing_support::ReadText(folder / "client.log");
}

} // namespace
