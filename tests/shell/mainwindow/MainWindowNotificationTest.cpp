// A new address is told through the desktop's notification service: a stand-in of it on a
// private session bus records what the window sends.

#include "core/uCfg.h"
#include "mainwindow/MainWindowFixture.h"
#include "mainwindow/NotificationStandIn.h"
#include "support/FormAccess.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/QtWait.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <memory>

using testing_support::RunEventsFor;
using testing_support::ScriptedReply;
using testing_support::WaitFor;
using namespace std::chrono_literals;

namespace {

// What the service replies when this computer has moved to 198.51.100.4.
constexpr const char* kMovedReply = "OK 198.51.100.4 192.0.2.7";
constexpr const char* kStillMovedReply = "OK 198.51.100.4 198.51.100.4";

class TMainWindowNotificationTest : public TMainWindowTest {
protected:
    void SetUp() override {
        TMainWindowTest::SetUp();
        if (!bus_.Failure().empty()) {
            GTEST_SKIP() << "no private session bus: " << bus_.Failure();
        }
    }

    // The notification service appears on the bus.
    void StartService() {
        standIn_ = std::make_unique<TNotificationStandIn>(QString::fromStdString(bus_.Address()));
        ASSERT_TRUE(standIn_->Failure().isEmpty()) << standIn_->Failure().toStdString();
    }
    std::size_t Told() const { return standIn_->Calls().size(); }
    bool WaitUntilTold(std::size_t count) {
        return WaitFor([&] { return Told() >= count; });
    }
    // A check whose reply is `reply`; returns once the history has `rows` rows and a
    // notification the check sends has had the time to arrive.
    void CheckWith(TCorvaleFormMain& w, const char* reply, int rows) {
        const std::size_t before = Requests("getip").size();
        service.Enqueue(ScriptedReply::Http(reply));
        ASSERT_TRUE(TriggerAction(w, "_CheckNow"));
        ASSERT_TRUE(WaitForRequests("getip", before + 1));
        ASSERT_TRUE(WaitFor([&] { return HistoryRows(w) == rows; })) << HistoryRows(w);
        RunEventsFor(400ms);
    }
    int HistoryRows(TCorvaleFormMain& w) { return Control<QTableWidget>(w, "LV1")->rowCount(); }

    testing_support::PrivateBus bus_;
    testing_support::ScopedEnv busAddress_{"DBUS_SESSION_BUS_ADDRESS", bus_.Address()};
    std::unique_ptr<TNotificationStandIn> standIn_;
};

TEST_F(TMainWindowNotificationTest, TheFirstAddressAndEachChangeAreTold) {
    StartService();
    auto& w = CreateWindow();
    ASSERT_TRUE(WaitForFirstAddress());
    ASSERT_TRUE(WaitUntilTold(1));
    const TNotifyCall first = standIn_->Calls()[0];
    EXPECT_EQ(first.AppName, QStringLiteral("Corvale"));
    EXPECT_EQ(first.Summary, QStringLiteral("Corvale"));
    EXPECT_EQ(first.Body, QStringLiteral("Your IP address is 192.0.2.7."));
    EXPECT_EQ(first.ReplacesId, 0u);

    CheckWith(w, kMovedReply, 2);
    ASSERT_TRUE(WaitUntilTold(2));
    EXPECT_EQ(standIn_->Calls()[1].Body,
              QStringLiteral("Your IP address changed from 192.0.2.7 to 198.51.100.4."));
    EXPECT_EQ(standIn_->Calls()[1].ReplacesId, 1u) << "takes the place of the one before";

    CheckWith(w, kStillMovedReply, 2);
    EXPECT_EQ(Told(), 2u) << "an unchanged address is not told";
}

// Save empties the history, so its check records the address again: it has not changed.
TEST_F(TMainWindowNotificationTest, TheRowAfterASaveIsToldOnlyWhenTheAddressMoved) {
    StartService();
    auto& w = CreateWindow();
    ASSERT_TRUE(WaitUntilTold(1));
    Control<QTabWidget>(w, "PageControl1")->setCurrentIndex(2);
    Control<QPushButton>(w, "Button5")->click();
    ASSERT_TRUE(WaitForRequests("getip", 2));
    ASSERT_TRUE(WaitFor([&] { return HistoryRows(w) == 1; }));
    RunEventsFor(400ms);
    EXPECT_EQ(Told(), 1u);

    Control<QTabWidget>(w, "PageControl1")->setCurrentIndex(2);
    service.Enqueue(ScriptedReply::Http(kMovedReply));
    Control<QPushButton>(w, "Button5")->click();
    ASSERT_TRUE(WaitUntilTold(2));
    EXPECT_EQ(standIn_->Calls()[1].Body,
              QStringLiteral("Your IP address changed from 192.0.2.7 to 198.51.100.4."));
}

// The Options page's box decides, and Save keeps it as notify_change.
TEST_F(TMainWindowNotificationTest, NotifyChangeOffTellsNothing) {
    StartService();
    WriteIni("notify_change=0\n");
    auto& w = CreateWindow();
    ASSERT_TRUE(WaitForFirstAddress());
    CheckWith(w, kMovedReply, 2);
    EXPECT_EQ(Told(), 0u);

    Control<QTabWidget>(w, "PageControl1")->setCurrentIndex(2);
    auto* box = Control<QCheckBox>(w, "CkNotifyChange");
    EXPECT_FALSE(box->isChecked());
    box->setChecked(true);
    service.Enqueue(ScriptedReply::Http(kStillMovedReply));
    Control<QPushButton>(w, "Button5")->click();
    EXPECT_NE(ReadIni().find("notify_change=1\n"), std::string::npos) << ReadIni();
    ASSERT_TRUE(WaitForRequests("getip", 3));
    ASSERT_TRUE(WaitFor([&] { return HistoryRows(w) == 1; }));
    RunEventsFor(400ms);
    ASSERT_EQ(Told(), 0u) << "the Save's check found the address it had";
    CheckWith(w, kGetIPReply, 2);
    ASSERT_TRUE(WaitUntilTold(1));
    EXPECT_EQ(standIn_->Calls()[0].Body,
              QStringLiteral("Your IP address changed from 198.51.100.4 to 192.0.2.7."));

    Control<QTabWidget>(w, "PageControl1")->setCurrentIndex(2);
    box->setChecked(false);
    Control<QPushButton>(w, "Button5")->click();
    EXPECT_NE(ReadIni().find("notify_change=0\n"), std::string::npos) << ReadIni();
    ASSERT_TRUE(WaitForRequests("getip", 5));
    ASSERT_TRUE(WaitFor([&] { return HistoryRows(w) == 1; }));
    CheckWith(w, kMovedReply, 2);
    EXPECT_EQ(Told(), 1u);
}

// A desktop without the notification service, or without a session bus, shows nothing:
// no box of the program's own, and the checks go on.
TEST_F(TMainWindowNotificationTest, WithoutTheServiceNothingIsShown) {
    const std::string noBus = "unix:path=" + (folder / "no-bus").string();
    for (const std::string& address : {bus_.Address(), noBus}) {
        SCOPED_TRACE(address);
        testing_support::ScopedEnv busAddress{"DBUS_SESSION_BUS_ADDRESS", address};
        Vars.IP = std::string();
        auto& w = CreateWindow();
        ASSERT_TRUE(WaitForFirstAddress());
        CheckWith(w, kMovedReply, 2);
        EXPECT_TRUE(boxes.empty()) << boxes[0].Text.toStdString();
        for (const QWidget* top : QApplication::topLevelWidgets()) {
            EXPECT_FALSE(top != &w && top->isVisible()) << top->metaObject()->className();
        }
        DestroyWindow();
        WriteIni("");
    }
}

} // namespace
