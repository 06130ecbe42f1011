// The main window's commands as the user reaches them: actions, tool and push buttons, the
// tray menu, the pages, the lists and the About page.

#include "core/WindowOps.h"
#include "core/uCfg.h"
#include "mainwindow/MainWindowFixture.h"
#include "shell/components/ImageList.h"
#include "shell/components/PopupMenu.h"
#include "shell/components/WindowMessages.h"
#include "shell/components/fInvite.h"
#include "shell/mainwindow/ActionList.h"
#include "shell/mainwindow/LinkLabel.h"
#include "shell/mainwindow/StatusPanels.h"
#include "support/FormAccess.h"
#include "support/InviteControls.h"
#include "support/TextRoom.h"
#include "tests/support/QtWait.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <fstream>

using testing_support::RunEventsFor;
using testing_support::WaitFor;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

QStringList Strings(std::initializer_list<const char*> texts) {
    QStringList list;
    for (const char* text : texts) {
        list << QString::fromUtf8(text);
    }
    return list;
}

struct TActionRow {
    const char* Name;
    const char* Category;
    const char* Caption;
    const char* Hint;
    int Image;
};

const TActionRow kActions[] = {
    {"_Active", "Account", "Active", "Active", 7},
    {"_Exit", "General", "&Exit", "Exit", -1},
    {"_OpenClose", "General", "&Open", "Open", -1},
    {"_CreateID", "Account", "Create ID", "", -1},
    {"_Cancel", "Options", "Cancel", "", -1},
    {"_Save", "Options", "Save", "", -1},
    {"_CheckNow", "Account", "Check Now", "Check Now", 1},
    {"_GetBuddy", "Buddy", "Get Buddy List", "Get Buddy List", 2},
    {"_InviteBuddy", "Buddy", "Invite", "Invite Buddy", 3},
    {"_RemoveBuddy", "Buddy", "Remove", "Remove Buddy", 4},
    {"_CopyIP", "General", "Copy IP", "Copy IP", -1},
    {"_CopyBuddyIP", "Buddy", "Copy Buddy's IP", "Copy Buddy's IP", -1},
    {"_CopySelIP", "Account", "Copy IP", "Copy Selected IP", -1},
    {"_HomePage", "General", "Home Page...", "Corvale Home Page", -1},
    {"_About", "General", "&About...", "About", -1},
    {"_Portlynx", "Portlynx", "Portlynx", "Portlynx", -1},
    {"_CheckUpdates", "General", "Check for updates...", "Check for updates", -1},
    {"_Login", "Account", "Login", "Login", -1},
};

class TMainWindowActionsTest : public TMainWindowTest {
protected:
    // Runs what the framework runs when the window thread becomes idle.
    void Idle() {
        Control<TActionList>(*window, "ActionList1")->ScheduleUpdate();
        WaitFor([&] {
            return !Control<TActionList>(*window, "ActionList1")->IsUpdateScheduledForTests();
        });
    }
    QString MenuItemText(const char* name) {
        emit Control<TPopupMenu>(*window, "PopupTray")->aboutToShow();
        return Control<TPopupMenu>(*window, "PopupTray")
            ->findChild<QAction*>(QString::fromLatin1(name))
            ->text();
    }
    void ClickTrayIcon() { tray.Send({TrayMessage::LButtonDown, TrayMessage::LButtonUp}); }
    QString PageCaption() {
        return Control<QTabWidget>(*window, "PageControl1")
            ->tabText(Control<QTabWidget>(*window, "PageControl1")->currentIndex());
    }
};

TEST_F(TMainWindowActionsTest, EveryActionAsDesigned) {
    const auto& w = CreateWindow(false);
    for (const TActionRow& row : kActions) {
        SCOPED_TRACE(row.Name);
        auto* action = w.findChild<QAction*>(QString::fromLatin1(row.Name));
        ASSERT_NE(action, nullptr);
        EXPECT_EQ(action->property("category").toString(), QString::fromLatin1(row.Category));
        if (std::string(row.Name) != "_OpenClose") { // its update rule has run already
            EXPECT_EQ(action->text(), QString::fromUtf8(row.Caption));
            EXPECT_EQ(action->statusTip(), QString::fromUtf8(row.Hint));
        }
        if (row.Image < 0) {
            EXPECT_TRUE(action->icon().isNull());
        } else {
            EXPECT_EQ(action->icon().cacheKey(),
                      Control<TImageList>(w, "IL16")->Icon(row.Image).cacheKey());
        }
    }
}

TEST_F(TMainWindowActionsTest, TrayMenuInItsOrderWithOpenAsDefault) {
    const auto& w = CreateWindow(false);
    QStringList names;
    for (QAction* item : Control<TPopupMenu>(w, "PopupTray")->actions()) {
        names << item->objectName();
    }
    EXPECT_EQ(names, Strings({"Open1", "Active1", "Portlynx1", "N2", "CopyIP2", "N3",
                              "CorvaleWebSite1", "Checkforupdates1", "About1", "N1", "Exit1"}));
    EXPECT_EQ(Control<TPopupMenu>(w, "PopupTray")->defaultAction()->objectName(),
              QStringLiteral("Open1"));
    EXPECT_TRUE(Control<TPopupMenu>(w, "PopupTray")
                    ->findChild<QAction*>(QStringLiteral("Active1"))
                    ->isCheckable());
    EXPECT_EQ(Control<TPopupMenu>(w, "PopupLV1")->actions().value(0)->objectName(),
              QStringLiteral("CopyIP1"));
    EXPECT_EQ(Control<TPopupMenu>(w, "PopupLV1")->actions().value(0)->text(),
              QStringLiteral("Copy IP"));
    EXPECT_EQ(Control<TPopupMenu>(w, "PopupLV2")->actions().value(0)->objectName(),
              QStringLiteral("CopyBuddyIP1"));
    EXPECT_EQ(Control<QToolBar>(w, "ToolBar2")
                  ->findChild<QToolButton*>(QStringLiteral("ToolButton8"))
                  ->defaultAction(),
              Action(w, "_Active"));
    EXPECT_EQ(Control<QToolBar>(w, "ToolBar2")
                  ->findChild<QToolButton*>(QStringLiteral("ToolButton4"))
                  ->defaultAction(),
              Action(w, "_CheckNow"));
    EXPECT_EQ(Control<QToolBar>(w, "ToolBar1")
                  ->findChild<QToolButton*>(QStringLiteral("ToolButton1"))
                  ->defaultAction(),
              Action(w, "_GetBuddy"));
    EXPECT_EQ(Control<QToolBar>(w, "ToolBar1")
                  ->findChild<QToolButton*>(QStringLiteral("ToolButton3"))
                  ->defaultAction(),
              Action(w, "_InviteBuddy"));
    EXPECT_EQ(Control<QToolBar>(w, "ToolBar1")
                  ->findChild<QToolButton*>(QStringLiteral("ToolButton6"))
                  ->defaultAction(),
              Action(w, "_RemoveBuddy"));
}

TEST_F(TMainWindowActionsTest, ActiveOffStopsCheckingAndOnChecksAtOnce) {
    auto& w = CreateWindow();
    ASSERT_TRUE(WaitForRequests("getip", 1));
    Idle();
    EXPECT_EQ(Control<TStatusPanelBar>(w, "SB1")->PanelText(4), QStringLiteral("Active"));

    QAction* item =
        Control<TPopupMenu>(w, "PopupTray")->findChild<QAction*>(QStringLiteral("Active1"));
    item->trigger(); // as chosen in the tray menu
    EXPECT_FALSE(Action(w, "_Active")->isChecked());
    EXPECT_FALSE(item->isChecked());
    EXPECT_FALSE(Control<QTimer>(w, "Timer1")->isActive());
    Idle();
    EXPECT_EQ(Control<TStatusPanelBar>(w, "SB1")->PanelText(4), QStringLiteral("Inactive"));
    RunEventsFor(100ms);
    EXPECT_EQ(Requests("getip").size(), 1u);

    Control<QToolBar>(w, "ToolBar2")
        ->findChild<QToolButton*>(QStringLiteral("ToolButton8"))
        ->click();
    EXPECT_TRUE(Action(w, "_Active")->isChecked());
    EXPECT_TRUE(WaitForRequests("getip", 2)) << "one check at once";
    ASSERT_TRUE(WaitFor([&] { return Control<QTimer>(w, "Timer1")->isActive(); }));
    EXPECT_GT(Control<QTimer>(w, "Timer1")->remainingTime(), 900 * 1000 - 5000)
        << "the full period";
    Idle();
    EXPECT_EQ(Control<TStatusPanelBar>(w, "SB1")->PanelText(4), QStringLiteral("Active"));
    RunEventsFor(100ms);
    EXPECT_EQ(Requests("getip").size(), 2u);
}

TEST_F(TMainWindowActionsTest, OpenCloseReadsHideWhileOpenAndTheTrayClickSwitches) {
    WriteIni("start_hidden=0\n");
    auto& w = CreateWindow();
    EXPECT_EQ(MenuItemText("Open1"), QStringLiteral("Hide"));
    EXPECT_EQ(Action(w, "_OpenClose")->toolTip(), QStringLiteral("Hide"));

    ClickTrayIcon();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(MenuItemText("Open1"), QStringLiteral("Open"));
    EXPECT_EQ(Action(w, "_OpenClose")->statusTip(), QStringLiteral("Open"));

    ClickTrayIcon();
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(MenuItemText("Open1"), QStringLiteral("Hide"));

    // A double click runs the default item as well: open, then closed again.
    tray.Send({TrayMessage::LButtonDown, TrayMessage::LButtonUp, TrayMessage::LButtonDblClk,
               TrayMessage::LButtonUp});
    EXPECT_TRUE(w.isVisible());
}

// Minimised from its title bar, the window is still visible: with a tray the command reads
// "Hide" and takes it to the tray; shown again from there, it comes back restored.
TEST_F(TMainWindowActionsTest, OpenCloseHidesAMinimisedWindowWhileATrayExists) {
    WriteIni("start_hidden=0\n");
    auto& w = CreateWindow();
    w.showMinimized();
    ASSERT_TRUE(WaitFor([&] { return w.isMinimized(); }));
    EXPECT_EQ(MenuItemText("Open1"), QStringLiteral("Hide"));
    EXPECT_EQ(Action(w, "_OpenClose")->toolTip(), QStringLiteral("Hide"));

    TriggerAction(w, "_OpenClose");
    EXPECT_FALSE(w.isVisible()) << "hidden to the tray, not restored";
    EXPECT_EQ(MenuItemText("Open1"), QStringLiteral("Open"));

    TriggerAction(w, "_OpenClose");
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.isMinimized());
    EXPECT_EQ(MenuItemText("Open1"), QStringLiteral("Hide"));
}

// The error of a window handler is shown like the default error display: modal for the
// whole program, so a second press of a failing Save cannot stack a second box behind it.
TEST_F(TMainWindowActionsTest, TheErrorBoxOfAHandlerIsApplicationModal) {
    WriteIni("start_hidden=0\n");
    auto& w = CreateWindow();
    Control<QTabWidget>(w, "PageControl1")->setCurrentIndex(2);
    std::filesystem::remove(IniPath());
    std::filesystem::create_directory(IniPath()); // every write of Save now fails
    SetMessageBoxHookForTests({});                // real boxes from here on
    const auto openBoxes = [] {
        std::vector<QMessageBox*> open;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                open.push_back(box);
            }
        }
        return open;
    };
    // Pressed as the window system delivers a press, which is what a modal box holds back.
    const auto pressSave = [&] {
        auto* save = Control<QPushButton>(w, "Button5");
        const QPoint at = save->mapTo(&w, save->rect().center());
        QTest::mouseClick(w.windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
        QCoreApplication::processEvents();
    };
    pressSave();
    ASSERT_TRUE(WaitFor([&] { return openBoxes().size() == 1; })) << "the first Save's box";
    QMessageBox* box = openBoxes()[0];
    EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(QApplication::activeModalWidget(), box);
    EXPECT_EQ(box->text(),
              QStringLiteral("Unable to write to %1.").arg(QString::fromStdString(IniPath())));
    pressSave();
    pressSave();
    EXPECT_EQ(openBoxes().size(), 1u) << "no second box stacked";
    for (QMessageBox* open : openBoxes()) {
        open->close();
    }
    std::filesystem::remove(IniPath());
}

TEST_F(TMainWindowActionsTest, CopyActionsNeedASelectedRow) {
    auto& w = CreateWindow();
    ASSERT_TRUE(WaitForFirstAddress());
    WindowOps().AppendBuddyRow("alice", "home-pc", "203.0.113.5", "Jan 05 2024 10:00:00");
    Idle();
    EXPECT_FALSE(Action(w, "_CopySelIP")->isEnabled());
    EXPECT_FALSE(Action(w, "_CopyBuddyIP")->isEnabled());
    EXPECT_FALSE(Control<TPopupMenu>(w, "PopupLV1")->actions().value(0)->isEnabled());
    QGuiApplication::clipboard()->setText(QStringLiteral("untouched"));
    Action(w, "_CopySelIP")->trigger(); // disabled: does nothing
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("untouched"));

    Control<QTableWidget>(w, "LV1")->selectRow(0);
    Control<QTableWidget>(w, "LV2")->selectRow(0);
    EXPECT_TRUE(WaitFor([&] {
        return Action(w, "_CopySelIP")->isEnabled() && Action(w, "_CopyBuddyIP")->isEnabled();
    }));
    Control<TPopupMenu>(w, "PopupLV1")->actions().value(0)->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("192.0.2.7"));
    Control<TPopupMenu>(w, "PopupLV2")->actions().value(0)->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("203.0.113.5"));
    TriggerAction(w, "CopyIP2");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("192.0.2.7"));

    Control<QTableWidget>(w, "LV1")->clearSelection();
    EXPECT_TRUE(WaitFor([&] { return !Action(w, "_CopySelIP")->isEnabled(); }));
}

TEST_F(TMainWindowActionsTest, SaveStoresInOrderEmptiesTheHistoryAndChecksAgain) {
    auto& w = CreateWindow();
    ASSERT_TRUE(WaitForFirstAddress());
    Control<QTabWidget>(w, "PageControl1")->setCurrentIndex(2);
    Control<QLineEdit>(w, "EdtID")->setText(QStringLiteral("jdoe"));
    Control<QLineEdit>(w, "EdtPswd")->setText(QStringLiteral("secret"));
    Control<QLineEdit>(w, "EdtCkInterval")->setText(QStringLiteral("120"));
    Control<QCheckBox>(w, "CkStartMinimized")->setChecked(false);
    Control<QCheckBox>(w, "Ck_MinToTray")->setChecked(true);
    Control<QPushButton>(w, "Button5")->click();

    EXPECT_EQ(Control<QTableWidget>(w, "LV1")->rowCount(), 0);
    EXPECT_EQ(Control<QTabWidget>(w, "PageControl1")->currentIndex(), 0);
    EXPECT_EQ(Vars.IP.Load(), "") << "the next check counts the address as new";
    EXPECT_EQ(Control<QTimer>(w, "Timer1")->interval(), 120 * 1000);
    const std::string ini = ReadIni();
    const std::string expected =
        "[Main]\nservice=127.0.0.1:" + std::to_string(service.Port()) +
        "\nstartup=0\nstay_on_top=0\nid=jdoe\npassword=" + Vars.Password.Load() +
        "\ncheck_interval=120\nstart_hidden=0\nmin_to_tray=1\nnotify_change=1\n";
    EXPECT_EQ(ini, expected);
    EXPECT_NE(Vars.Password.Load(), "secret");

    ASSERT_TRUE(WaitForRequests("getip", 2));
    ASSERT_TRUE(WaitFor([&] { return Control<QTableWidget>(w, "LV1")->rowCount() == 1; }));
    EXPECT_EQ(Control<QTableWidget>(w, "LV1")->item(0, 0)->text(), QStringLiteral("1"));
    EXPECT_EQ(Control<QTableWidget>(w, "LV1")->item(0, 1)->text(), QStringLiteral("192.0.2.7"));
    EXPECT_EQ(Control<QTableWidget>(w, "LV1")->item(0, 2)->text(),
              QStringLiteral("Dec 06 2026 12:30:05"));
    EXPECT_TRUE(WaitForRequests("setip", 1));
    EXPECT_NE(Requests("setip").back().find("id=jdoe&"), std::string::npos);
}

TEST_F(TMainWindowActionsTest, LoginSavesToo) {
    auto& w = CreateWindow();
    ASSERT_TRUE(WaitForRequests("getip", 1));
    Control<QTabWidget>(w, "PageControl1")->setCurrentIndex(2);
    Control<QLineEdit>(w, "EdtID")->setText(QStringLiteral("amy"));
    Control<QPushButton>(w, "Button4")->click();
    EXPECT_EQ(Vars.UserID.Load(), "amy");
    EXPECT_TRUE(WaitForRequests("getip", 2));
}

TEST_F(TMainWindowActionsTest, SaveStopsAtABadIntervalKeepingWhatItStored) {
    auto& w = CreateWindow();
    ASSERT_TRUE(WaitForFirstAddress());
    Control<QTabWidget>(w, "PageControl1")->setCurrentIndex(2);
    Control<QLineEdit>(w, "EdtID")->setText(QStringLiteral("jdoe"));
    Control<QLineEdit>(w, "EdtCkInterval")->setText(QStringLiteral("5-"));
    Control<QCheckBox>(w, "Ck_MinToTray")->setChecked(true);
    Control<QPushButton>(w, "Button5")->click();

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, QStringLiteral("'5-' is not a valid integer value."));
    EXPECT_EQ(boxes[0].Caption, QStringLiteral("Corvale"));
    EXPECT_EQ(boxes[0].Icon, TMsgIcon::Error);
    EXPECT_EQ(Vars.UserID.Load(), "jdoe");
    EXPECT_EQ(Control<QTableWidget>(w, "LV1")->rowCount(), 1)
        << "the handler stopped before emptying the history";
    EXPECT_EQ(Control<QTabWidget>(w, "PageControl1")->currentIndex(), 2);
    const std::string ini = ReadIni();
    EXPECT_NE(ini.find("id=jdoe\n"), std::string::npos);
    EXPECT_EQ(ini.find("check_interval"), std::string::npos);
    EXPECT_EQ(ini.find("min_to_tray"), std::string::npos);
    Control<QTabWidget>(w, "PageControl1")->setCurrentIndex(0);
    Control<QTabWidget>(w, "PageControl1")->setCurrentIndex(2); // shows what is in effect
    EXPECT_FALSE(Control<QCheckBox>(w, "Ck_MinToTray")->isChecked());
}

// A second service on 127.0.0.1, alive until the window is gone, for a Save that moves there.
class TMainWindowServiceFieldTest : public TMainWindowActionsTest {
protected:
    void SetUp() override {
        TMainWindowActionsTest::SetUp();
        moved.SetFallback(testing_support::ScriptedReply::Http(kGetIPReply));
    }
    std::size_t MovedRequests(const std::string& action) const {
        std::size_t count = 0;
        for (const std::string& request : moved.Requests()) {
            count += request.find("action=" + action + "&") != std::string::npos ? 1 : 0;
        }
        return count;
    }
    void SaveWithService(TCorvaleFormMain& w, const QString& text) {
        Control<QTabWidget>(w, "PageControl1")->setCurrentIndex(2);
        Control<QLineEdit>(w, "EdtService")->setText(text);
        Control<QPushButton>(w, "Button5")->click();
    }
    testing_support::LoopbackServer moved;
};

TEST_F(TMainWindowServiceFieldTest, SaveMovesTheChecksToTheServiceTyped) {
    auto& w = CreateWindow();
    ASSERT_TRUE(WaitForFirstAddress());
    Control<QTabWidget>(w, "PageControl1")->setCurrentIndex(2);
    EXPECT_EQ(Control<QLineEdit>(w, "EdtService")->text(),
              QStringLiteral("127.0.0.1:%1").arg(service.Port()));
    Control<QLineEdit>(w, "EdtID")->setText(QStringLiteral("jdoe"));
    Control<QLineEdit>(w, "EdtPswd")->setText(QStringLiteral("secret")); // so the check reports
    const QString typed = QStringLiteral(" http://127.0.0.1:%1/ ").arg(moved.Port());
    SaveWithService(w, typed);

    EXPECT_EQ(Control<QTabWidget>(w, "PageControl1")->currentIndex(), 0);
    EXPECT_NE(ReadIni().find("service=" + typed.trimmed().toStdString() + "\n"), std::string::npos)
        << ReadIni();
    ASSERT_TRUE(WaitFor([&] { return MovedRequests("setip") == 1; }));
    EXPECT_EQ(MovedRequests("getip"), 1u);
    EXPECT_EQ(Requests("getip").size(), 1u) << "only the start-up check went to the old service";
    ASSERT_TRUE(WaitFor([&] { return Control<QTableWidget>(w, "LV1")->rowCount() == 1; }));
    // The page shows the stored service in its shortest form.
    Control<QTabWidget>(w, "PageControl1")->setCurrentIndex(0);
    Control<QTabWidget>(w, "PageControl1")->setCurrentIndex(2);
    EXPECT_EQ(Control<QLineEdit>(w, "EdtService")->text(),
              QStringLiteral("127.0.0.1:%1").arg(moved.Port()));
}

// A refused form stops the Save before anything is stored: the box names the form and the
// accepted ones, the page stays open with the field ready for a correction.
TEST_F(TMainWindowServiceFieldTest, SaveRefusesAFormTheServiceRuleRefuses) {
    auto& w = CreateWindow();
    ASSERT_TRUE(WaitForFirstAddress());
    const std::string before = ReadIni();
    const char* refused[] = {"ftp://127.0.0.1", "127.0.0.1:0", "127.0.0.1:65536",
                             "two words",       "https://",    "host:80/path"};
    for (const char* form : refused) {
        SCOPED_TRACE(form);
        boxes.clear();
        Control<QTabWidget>(w, "PageControl1")->setCurrentIndex(2);
        Control<QLineEdit>(w, "EdtID")->setText(QStringLiteral("jdoe"));
        SaveWithService(w, QString::fromLatin1(form));

        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_TRUE(boxes[0].Text.startsWith(
            QStringLiteral("\"%1\" is not a service address.").arg(QString::fromLatin1(form))))
            << boxes[0].Text.toStdString();
        EXPECT_TRUE(boxes[0].Text.contains(QStringLiteral("HOST:PORT")));
        EXPECT_EQ(boxes[0].Caption, QStringLiteral("Corvale"));
        EXPECT_EQ(boxes[0].Icon, TMsgIcon::Error);
        EXPECT_EQ(ReadIni(), before);
        EXPECT_EQ(Vars.UserID.Load(), "");
        EXPECT_EQ(Control<QTabWidget>(w, "PageControl1")->currentIndex(), 2);
        EXPECT_EQ(Control<QTableWidget>(w, "LV1")->rowCount(), 1);
        auto* field = Control<QLineEdit>(w, "EdtService");
        EXPECT_EQ(w.focusWidget(), field);
        EXPECT_EQ(field->selectedText(), QString::fromLatin1(form));
    }
    Control<QPushButton>(w, "Button6")->click();
    EXPECT_EQ(Requests("getip").size(), 1u) << "no Save started a check";
    EXPECT_EQ(moved.Requests().size(), 0u);
}

TEST_F(TMainWindowActionsTest, CancelAndLeavingTheOptionsPageDropEdits) {
    WriteIni("id=stored\ncheck_interval=300\nmin_to_tray=1\n");
    auto& w = CreateWindow();
    Control<QTabWidget>(w, "PageControl1")->setCurrentIndex(2); // as the user selects it
    EXPECT_EQ(Control<QLineEdit>(w, "EdtID")->text(), QStringLiteral("stored"));
    EXPECT_EQ(Control<QLineEdit>(w, "EdtCkInterval")->text(), QStringLiteral("300"));
    EXPECT_TRUE(Control<QCheckBox>(w, "Ck_MinToTray")->isChecked());
    EXPECT_TRUE(Control<QCheckBox>(w, "CkStartMinimized")->isChecked());
    EXPECT_FALSE(Control<QCheckBox>(w, "CkStartup")->isChecked());

    Control<QLineEdit>(w, "EdtID")->setText(QStringLiteral("edited"));
    Control<QCheckBox>(w, "Ck_MinToTray")->setChecked(false);
    Control<QTabWidget>(w, "PageControl1")->setCurrentIndex(1);
    Control<QTabWidget>(w, "PageControl1")->setCurrentIndex(2);
    EXPECT_EQ(Control<QLineEdit>(w, "EdtID")->text(), QStringLiteral("stored"));
    EXPECT_TRUE(Control<QCheckBox>(w, "Ck_MinToTray")->isChecked());

    Control<QLineEdit>(w, "EdtCkInterval")->setText(QStringLiteral("61"));
    Control<QPushButton>(w, "Button6")->click();
    EXPECT_EQ(Control<QTabWidget>(w, "PageControl1")->currentIndex(), 0);
    EXPECT_EQ(Control<QLineEdit>(w, "EdtCkInterval")->text(), QStringLiteral("300"));
    EXPECT_NE(ReadIni().find("check_interval=300\n"), std::string::npos);
}

TEST_F(TMainWindowActionsTest, AboutPageTextsAndLinks) {
    auto& w = CreateWindow();
    ASSERT_FALSE(w.isVisible());
    TriggerAction(w, "About1");
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(Control<QTabWidget>(w, "PageControl1")->currentIndex(), 3);
    EXPECT_EQ(Control<QLabel>(w, "Lbl_name")->text(), QStringLiteral("Corvale"));
    EXPECT_EQ(Control<QLabel>(w, "Lbl_version")->text(),
              QStringLiteral("Version 0.3.11 (build 25)"));
    EXPECT_EQ(Control<QLabel>(w, "Lbl_release")->text(),
              QStringLiteral("Release date: November 11, 2006"));
    const QString home = QStringLiteral("http://127.0.0.1:%1/tools/corvale").arg(service.Port());
    EXPECT_EQ(Control<TLinkLabel>(w, "Lbl_web")->text(), home);
    EXPECT_FALSE(Control<TLinkLabel>(w, "Lbl_mail")->text().isEmpty());
    EXPECT_FALSE(Control<QLabel>(w, "Label7")->text().isEmpty());
    for (const TLinkLabel* link :
         {Control<TLinkLabel>(w, "Lbl_web"), Control<TLinkLabel>(w, "Lbl_mail")}) {
        EXPECT_TRUE(link->font().underline());
        EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(Qt::blue));
        EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    }

    emit Control<TLinkLabel>(w, "Lbl_web")->clicked();
    emit Control<TLinkLabel>(w, "Lbl_mail")->clicked();
    TriggerAction(w, "_HomePage");
    TriggerAction(w, "_CreateID");
    EXPECT_EQ(urls.Opened,
              (std::vector<QString>{
                  home + QStringLiteral("/"),
                  QStringLiteral("mailto:") + Control<TLinkLabel>(w, "Lbl_mail")->text(),
                  home + QStringLiteral("/"), home + QStringLiteral("/signup.php")}));

    Control<QPushButton>(w, "Button1")->click();
    EXPECT_EQ(Control<QTabWidget>(w, "PageControl1")->currentIndex(), 0);
}

TEST_F(TMainWindowActionsTest, ExclusionAsksWithTheBuddysIdAndNoChangesNothing) {
    auto& w = CreateWindow();
    TriggerAction(w, "_RemoveBuddy");
    EXPECT_TRUE(boxes.empty()) << "nothing selected: nothing asked";

    WindowOps().AppendBuddyRow("alice", "home-pc", "203.0.113.5", "Jan 05 2024 10:00:00");
    WindowOps().AppendBuddyRow("bob", "laptop", "203.0.113.9", "Jan 06 2024 11:30:00");
    Control<QTableWidget>(w, "LV2")->selectRow(1);
    answers.push_back(TMsgAnswer::No);
    TriggerAction(w, "_RemoveBuddy");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text,
              QStringLiteral("Are you sure you want to exclude \"bob\" from your buddy list ?"));
    EXPECT_EQ(boxes[0].Caption, QStringLiteral("Exclude buddy"));
    EXPECT_EQ(boxes[0].Buttons, TMsgButtons::YesNo);
    EXPECT_EQ(boxes[0].Icon, TMsgIcon::None);
    RunEventsFor(100ms);
    EXPECT_TRUE(Requests("exclude").empty());

    answers.push_back(TMsgAnswer::Yes);
    TriggerAction(w, "_RemoveBuddy");
    ASSERT_TRUE(WaitForRequests("exclude", 1));
    EXPECT_NE(Requests("exclude")[0].find("&invid=bob&"), std::string::npos);
}

TEST_F(TMainWindowActionsTest, InviteShowsTheDialogAndInvitesOnlyAfterOK) {
    SetHostListFetchStarter([](TInviteDialogLink) {}); // the test fills the host list itself
    auto& w = CreateWindow();
    const auto openDialog = [&] {
        TriggerAction(w, "_InviteBuddy");
        auto* dialog = w.findChild<TFormInvite*>();
        EXPECT_NE(dialog, nullptr);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->windowModality(), Qt::ApplicationModal);
        dialog->BeginHostList();
        dialog->AppendHostRow(QStringLiteral("home-pc"), 12);
        dialog->AppendHostRow(QStringLiteral("laptop"), 40);
        dialog->EndHostList();
        return dialog;
    };

    TFormInvite* dialog = openDialog();
    Edit1(*dialog)->setText(QStringLiteral("carol"));
    LV(*dialog)->item(1, 0)->setCheckState(Qt::Checked);
    Button2(*dialog)->click(); // Cancel
    EXPECT_TRUE(WaitFor([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return w.findChild<TFormInvite*>() == nullptr;
    })) << "freed";
    RunEventsFor(50ms);
    EXPECT_TRUE(Requests("invite").empty());

    dialog = openDialog();
    Edit1(*dialog)->setText(QStringLiteral("carol"));
    LV(*dialog)->item(1, 0)->setCheckState(Qt::Checked);
    Button1(*dialog)->click(); // Invite
    ASSERT_TRUE(WaitForRequests("invite", 1));
    EXPECT_NE(Requests("invite")[0].find("&invid=carol&hl=40&"), std::string::npos)
        << Requests("invite")[0];
    EXPECT_TRUE(WaitFor([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return w.findChild<TFormInvite*>() == nullptr;
    })) << "freed";
    SetHostListFetchStarter({});
}

TEST_F(TMainWindowActionsTest, EscapeOnTheOptionsPageCancels) {
    WriteIni("id=stored\nstart_hidden=0\n");
    auto& w = CreateWindow();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    Control<QTabWidget>(w, "PageControl1")->setCurrentIndex(2);
    Control<QLineEdit>(w, "EdtID")->setFocus();
    Control<QLineEdit>(w, "EdtID")->setText(QStringLiteral("edited"));
    QTest::keyClick(Control<QLineEdit>(w, "EdtID"), Qt::Key_Escape);
    EXPECT_EQ(Control<QTabWidget>(w, "PageControl1")->currentIndex(), 0);
    EXPECT_EQ(Control<QLineEdit>(w, "EdtID")->text(), QStringLiteral("stored"));
}

TEST_F(TMainWindowActionsTest, PortlynxItemOnlyWhenTheModuleFileExists) {
    auto& w = CreateWindow(false);
    emit Control<TPopupMenu>(w, "PopupTray")->aboutToShow();
    EXPECT_FALSE(Control<QAction>(w, "Portlynx1")->isVisible());
    std::filesystem::create_directory(folder / "portlynx.dll");
    emit Control<TPopupMenu>(w, "PopupTray")->aboutToShow();
    EXPECT_FALSE(Control<QAction>(w, "Portlynx1")->isVisible())
        << "a folder of that name is no module";
    std::filesystem::remove(folder / "portlynx.dll");
    std::ofstream(folder / "portlynx.dll") << "not a library";
    emit Control<TPopupMenu>(w, "PopupTray")->aboutToShow();
    EXPECT_TRUE(Control<QAction>(w, "Portlynx1")->isVisible());
    EXPECT_TRUE(Action(w, "_Portlynx")->isVisible()) << "the item hides, not the action";

    TriggerAction(w, "Portlynx1"); // not loadable: reported, and the action stays unchecked
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, QStringLiteral("Portlynx cannot be loaded."));
    EXPECT_FALSE(Action(w, "_Portlynx")->isChecked());
    EXPECT_FALSE(Control<QAction>(w, "Portlynx1")->isChecked());
}

TEST_F(TMainWindowActionsTest, PagesListsAndStatusBarsAsDesigned) {
    const TApplicationFontScope fitsTheDesign{6}; // a larger font widens the panels
    const auto& w = CreateWindow(false);
    EXPECT_EQ(w.objectName(), QStringLiteral("CorvaleFormMain"));
    EXPECT_EQ(w.minimumSize(), QSize(372, 301));
    EXPECT_FALSE(w.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(w.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));

    const QStringList captions = Strings({"Your IP", "Contacts", "Options", "About"});
    const int images[] = {0, 5, 6, -1};
    ASSERT_EQ(Control<QTabWidget>(w, "PageControl1")->count(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(Control<QTabWidget>(w, "PageControl1")->tabText(i), captions[i]);
        EXPECT_EQ(Control<QTabWidget>(w, "PageControl1")->tabIcon(i).isNull(), images[i] < 0);
        if (images[i] >= 0) {
            EXPECT_EQ(Control<QTabWidget>(w, "PageControl1")->tabIcon(i).cacheKey(),
                      Control<TImageList>(w, "IL16")->Icon(images[i]).cacheKey());
        }
    }

    const auto columns = [](const QTableWidget* list) {
        QStringList texts;
        for (int i = 0; i < list->columnCount(); ++i) {
            texts << QStringLiteral("%1:%2")
                         .arg(list->horizontalHeaderItem(i)->text())
                         .arg(list->columnWidth(i));
        }
        return texts;
    };
    EXPECT_EQ(columns(Control<QTableWidget>(w, "LV1")),
              Strings({"No:32", "IP Address:100", "Date/Time:140"}));
    EXPECT_EQ(columns(Control<QTableWidget>(w, "LV2")),
              Strings({"No:32", "User ID:95", "Host:130", "IP Address:95", "Date/Time:140"}));
    for (const QTableWidget* list :
         {Control<QTableWidget>(w, "LV1"), Control<QTableWidget>(w, "LV2")}) {
        EXPECT_TRUE(list->showGrid());
        EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
        EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
        EXPECT_EQ(list->rowCount(), 0);
    }
    EXPECT_EQ(Control<QTableWidget>(w, "LV1")->selectionMode(),
              QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(Control<QTableWidget>(w, "LV2")->selectionMode(), QAbstractItemView::SingleSelection);

    const auto panels = [](const TStatusPanelBar* bar) {
        QStringList texts;
        for (int i = 0; i < bar->PanelCount(); ++i) {
            texts << QStringLiteral("%1:%2").arg(bar->PanelText(i)).arg(bar->PanelWidth(i));
        }
        return texts;
    };
    EXPECT_EQ(panels(Control<TStatusPanelBar>(w, "SB1")),
              Strings({"IP:16", ":100", "Last Check:60", ":140", "Active:50", ":50"}));
    EXPECT_EQ(panels(Control<TStatusPanelBar>(w, "SB2")),
              Strings({"Ok:50", "Total:32", ":50", ":50"}));
}

TEST_F(TMainWindowActionsTest, OptionsPageControlsAsDesigned) {
    const auto& w = CreateWindow(false);
    EXPECT_EQ(Control<QGroupBox>(w, "GroupBox1")->title(), QStringLiteral(" Corvale ID "));
    EXPECT_EQ(Control<QGroupBox>(w, "GroupBox3")->title(), QStringLiteral(" Login "));
    EXPECT_EQ(Control<QLabel>(w, "Lbl_details")->text(),
              QStringLiteral("Don't have an ID ?\nCreate here:"));
    EXPECT_EQ(Control<QLineEdit>(w, "EdtPswd")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Control<QLineEdit>(w, "EdtID")->toolTip(),
              QStringLiteral("Your ID used to update your IP on the server"));
    EXPECT_EQ(Control<QLineEdit>(w, "EdtPswd")->toolTip(),
              QStringLiteral("The password used to update your ip on the server"));
    EXPECT_EQ(Control<QLineEdit>(w, "EdtCkInterval")->toolTip(),
              QStringLiteral("The interval (in seconds) for checking IP changes"));
    EXPECT_EQ(Control<QCheckBox>(w, "CkStartup")->text(),
              QStringLiteral("Start when Windows starts"));
    EXPECT_EQ(Control<QCheckBox>(w, "CkStartMinimized")->text(), QStringLiteral("Start minimized"));
    EXPECT_EQ(Control<QCheckBox>(w, "Ck_MinToTray")->text(),
              QStringLiteral("Minimize to tray on window close"));
    EXPECT_EQ(Control<QCheckBox>(w, "Ck_MinToTray")->toolTip(), QStringLiteral("Minimize to tray"));
    EXPECT_EQ(Control<QCheckBox>(w, "Ck_StayOnTop")->text(), QStringLiteral("Stay on top"));
    const QPushButton* buttons[] = {
        Control<QPushButton>(w, "Button3"), Control<QPushButton>(w, "Button4"),
        Control<QPushButton>(w, "Button5"), Control<QPushButton>(w, "Button6"),
        Control<QPushButton>(w, "Button2"), Control<QPushButton>(w, "Button1")};
    const QStringList texts =
        Strings({"Create ID", "Login", "Save", "Cancel", "Check for updates...", "Ok"});
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(buttons[i]->text(), texts[i]);
    }
}

} // namespace
