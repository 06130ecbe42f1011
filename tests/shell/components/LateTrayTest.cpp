// A tray host that starts after the program, as a panel that comes up late or restarts: the
// icon shown before it docks once it is there, and again after the host's restart.

#include "shell/components/Icons.h"
#include "shell/components/QtTrayShell.h"
#include "shell/components/SysTrayIcon.h"
#include "tests/support/QtWait.h"
#include "tests/support/XSession.h"

#include <QApplication>
#include <QSystemTrayIcon>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>
#include <memory>

using testing_support::RunEventsFor;
using testing_support::WaitFor;
using testing_support::XSession;
using namespace std::chrono_literals;

namespace {

// The X server without a tray and the application, made once for the whole program.
class LateTrayEnvironment final : public ::testing::Environment {
public:
    static std::string skipReason;
    static std::string failureReason; // installed, but did not come up: a fault of the run
    static XSession* session;

    void SetUp() override {
        session_ = std::make_unique<XSession>(testing_support::DefaultTrayHost(),
                                              XSession::HostStart::Later);
        if (!session_->Failure().empty()) {
            (session_->Missing() ? skipReason : failureReason) = session_->Failure();
            return;
        }
        session = session_.get();
        qputenv("QT_QPA_PLATFORM", "xcb");
        qunsetenv("WAYLAND_DISPLAY");
        qunsetenv("DBUS_SESSION_BUS_ADDRESS"); // the X tray protocol, which trayer speaks
        application_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override {
        application_.reset();
        session = nullptr;
        session_.reset();
    }

private:
    int argc_ = 1;
    char name_[16] = "corvale-tray";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<XSession> session_;
    std::unique_ptr<QApplication> application_;
};

std::string LateTrayEnvironment::skipReason;
std::string LateTrayEnvironment::failureReason;
XSession* LateTrayEnvironment::session = nullptr;
const auto* const registered = ::testing::AddGlobalTestEnvironment(new LateTrayEnvironment);

class LateTrayTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!LateTrayEnvironment::failureReason.empty()) {
            FAIL() << "no X session: " << LateTrayEnvironment::failureReason;
        }
        if (!LateTrayEnvironment::skipReason.empty()) {
            GTEST_SKIP() << "no X session: " << LateTrayEnvironment::skipReason;
        }
    }
    void TearDown() override {
        tray = nullptr;
        form.reset();
        if (LateTrayEnvironment::session) {
            LateTrayEnvironment::session->StopTrayHost();
        }
    }

    void ShowIcon() {
        auto shell = std::make_unique<TQtTrayShell>();
        qtShell = shell.get();
        form = std::make_unique<QWidget>();
        tray = new TSysTrayIcon(form.get(), std::move(shell));
        tray->SetIcon(Icons::Tray());
        tray->SetHint(QStringLiteral("Corvale"));
        tray->Loaded();
    }

    // The icon's window is embedded in the tray host and on screen.
    bool Docked() const {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (qstrcmp(widget->metaObject()->className(), "QSystemTrayIconSys") == 0) {
                QWindow* window = widget->windowHandle();
                return widget->isVisible() && window && window->isExposed() &&
                       qtShell->GeometryForTests().width() > 0;
            }
        }
        return false;
    }

    TQtTrayShell* qtShell = nullptr;
    std::unique_ptr<QWidget> form;
    TSysTrayIcon* tray = nullptr;
};

TEST_F(LateTrayTest, AnIconShownBeforeTheTrayDocksWhenItAppearsAndAgainAfterItsRestart) {
    XSession& session = *LateTrayEnvironment::session;
    ShowIcon();
    RunEventsFor(5s);
    EXPECT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    EXPECT_FALSE(Docked());

    ASSERT_TRUE(session.StartTrayHost()) << session.Failure();
    EXPECT_TRUE(WaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 5s));
    EXPECT_TRUE(WaitFor([&] { return Docked(); }, 5s)) << "the late tray never got the icon";

    session.StopTrayHost(); // the panel restarts
    EXPECT_TRUE(WaitFor([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }, 5s));
    EXPECT_TRUE(WaitFor([&] { return !Docked(); }, 5s)) << "still docked in a tray that ended";
    ASSERT_TRUE(session.StartTrayHost()) << session.Failure();
    EXPECT_TRUE(WaitFor([&] { return Docked(); }, 5s)) << "the restarted tray never got the icon";
}

} // namespace
