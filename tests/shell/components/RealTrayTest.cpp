// The tray icon in a real X server with a real tray host: a click made with the mouse
// reaches the component's events through the system tray.

#include "platform/Process.h"
#include "shell/components/Icons.h"
#include "shell/components/PopupMenu.h"
#include "shell/components/QtTrayShell.h"
#include "shell/components/SysTrayIcon.h"
#include "tests/support/QtWait.h"
#include "tests/support/XSession.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSystemTrayIcon>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>
#include <memory>

using testing_support::RunEventsFor;
using testing_support::WaitFor;

namespace {

// The X server, the tray host and the application, made once for the whole program.
class RealTrayEnvironment final : public ::testing::Environment {
public:
    static std::string skipReason;
    // Set when the X session was installed but did not come up: a fault of the run.
    static std::string failureReason;

    void SetUp() override {
        session_ = std::make_unique<testing_support::XSession>();
        if (!session_->Failure().empty()) {
            (session_->Missing() ? skipReason : failureReason) = session_->Failure();
            return;
        }
        qputenv("QT_QPA_PLATFORM", "xcb");
        qunsetenv("WAYLAND_DISPLAY");
        // Without a session bus Qt docks the icon through the X tray protocol, which is what
        // trayer speaks.
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        application_ = std::make_unique<QApplication>(argc_, argv_);
        if (!WaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); })) {
            skipReason = "trayer did not take the tray over";
        }
    }
    void TearDown() override {
        application_.reset();
        session_.reset();
    }

private:
    int argc_ = 1;
    char name_[16] = "corvale-tray";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<testing_support::XSession> session_;
    std::unique_ptr<QApplication> application_;
};

std::string RealTrayEnvironment::skipReason;
std::string RealTrayEnvironment::failureReason;
const auto* const registered = ::testing::AddGlobalTestEnvironment(new RealTrayEnvironment);

class RealTrayTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!RealTrayEnvironment::failureReason.empty()) {
            FAIL() << "no real tray: " << RealTrayEnvironment::failureReason;
        }
        if (!RealTrayEnvironment::skipReason.empty()) {
            GTEST_SKIP() << "no real tray: " << RealTrayEnvironment::skipReason;
        }
        xdotool = testing_support::FindProgram("xdotool");
        if (xdotool.empty()) {
            GTEST_SKIP() << "no real tray: xdotool is not installed";
        }
        auto shell = std::make_unique<TQtTrayShell>();
        qtShell = shell.get();
        form = std::make_unique<QWidget>();
        tray = new TSysTrayIcon(form.get(), std::move(shell));
        tray->SetIcon(Icons::Tray());
        tray->SetHint(QStringLiteral("Corvale"));
        tray->SetShowHint(true);
        tray->Loaded();
        ASSERT_TRUE(WaitFor([&] { return Docked(); })) << "the icon never docked in the tray";
    }

    // The icon's window has been embedded in the tray host and is on screen: a click made
    // any earlier would land on the tray host itself.
    bool Docked() const {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (qstrcmp(widget->metaObject()->className(), "QSystemTrayIconSys") == 0) {
                QWindow* window = widget->windowHandle();
                return window && window->isExposed() && qtShell->GeometryForTests().width() > 0;
            }
        }
        return false;
    }

    // Clicks a mouse button on the middle of the icon, as a user would.
    void ClickIcon(int button, int times = 1) {
        // A press within the double-click time of an earlier test's click would count as
        // its second click.
        static QElapsedTimer lastClick;
        const qint64 apart = QApplication::doubleClickInterval() + 100;
        if (lastClick.isValid() && lastClick.elapsed() < apart) {
            RunEventsFor(std::chrono::milliseconds(apart - lastClick.elapsed()));
        }
        const QPoint centre = qtShell->GeometryForTests().center();
        platform::SpawnProgram(xdotool,
                               {"mousemove", std::to_string(centre.x()), std::to_string(centre.y()),
                                "click", "--repeat", std::to_string(times), "--delay", "60",
                                std::to_string(button)},
                               "", true);
        lastClick.start();
    }

    // Logs the mouse events and clicks as short names.
    void LogEvents(std::vector<std::string>& events) {
        tray->OnMouseDown = [&](TSysTrayIcon*, TMouseButton, TShiftState, int, int) {
            events.push_back("down");
        };
        tray->OnClick = [&](TSysTrayIcon*) { events.push_back("click"); };
        tray->OnDblClick = [&](TSysTrayIcon*) { events.push_back("dblclick"); };
        tray->OnMouseUp = [&](TSysTrayIcon*, TMouseButton, TShiftState, int, int) {
            events.push_back("up");
        };
    }

    std::string xdotool;
    TQtTrayShell* qtShell = nullptr;
    std::unique_ptr<QWidget> form;
    TSysTrayIcon* tray = nullptr;
};

TEST_F(RealTrayTest, LeftClickReachesOnClick) {
    std::vector<std::string> events;
    LogEvents(events);
    ClickIcon(1);
    ASSERT_TRUE(WaitFor([&] { return events.size() >= 3; }));
    EXPECT_EQ(events, (std::vector<std::string>{"down", "click", "up"}));
}

TEST_F(RealTrayTest, DoubleClickReachesOnDblClick) {
    std::vector<std::string> events;
    LogEvents(events);
    ClickIcon(1, 2);
    ASSERT_TRUE(WaitFor([&] { return events.size() >= 5; }));
    EXPECT_EQ(events, (std::vector<std::string>{"down", "click", "up", "dblclick", "up"}));
}

TEST_F(RealTrayTest, RightClickOpensTheMenuAtTheCursor) {
    TPopupMenu menu;
    menu.addAction(QStringLiteral("Open"));
    tray->SetPopupMenu(&menu);
    ClickIcon(3);
    ASSERT_TRUE(WaitFor([&] { return menu.isVisible(); }));
    EXPECT_EQ(menu.PopupComponent(), tray);
    menu.close();
    tray->SetPopupMenu(nullptr);
}

} // namespace
