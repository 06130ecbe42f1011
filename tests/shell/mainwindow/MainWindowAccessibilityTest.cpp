// What assistive technology finds in the main window: the painted status panels as texts it
// can read, and the tool buttons it operates without any mouse or key input.

#include "mainwindow/MainWindowFixture.h"
#include "shell/components/PopupMenu.h"
#include "shell/mainwindow/ActionList.h"
#include "shell/mainwindow/StatusPanels.h"
#include "support/FormAccess.h"
#include "tests/support/QtWait.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QStringList>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <vector>

using testing_support::RunEventsFor;
using testing_support::WaitFor;
using namespace std::chrono_literals;

namespace {

QString Read(QAccessibleInterface* panel) {
    QAccessibleTextInterface* text = panel->textInterface();
    return text ? text->text(0, text->characterCount()) : QStringLiteral("<no text>");
}

using TMainWindowAccessibilityTest = TMainWindowTest;

TEST_F(TMainWindowAccessibilityTest, EachStatusPanelIsATextNamedForWhatItTells) {
    auto& w = CreateWindow();
    ASSERT_TRUE(WaitForFirstAddress());
    struct TRow {
        const char* Bar;
        QString BarName;
        std::vector<QString> PanelNames;
    };
    const TRow bars[] = {
        {"SB1",
         QStringLiteral("Address status"),
         {QStringLiteral("IP"), QStringLiteral("Current address"), QStringLiteral("Last Check"),
          QStringLiteral("Last check time"), QStringLiteral("Checking"), QStringLiteral("Spare")}},
        {"SB2",
         QStringLiteral("Buddy list status"),
         {QStringLiteral("Buddy list state"), QStringLiteral("Total"),
          QStringLiteral("Buddy count"), QStringLiteral("Spare")}},
    };
    for (const TRow& row : bars) {
        SCOPED_TRACE(row.Bar);
        auto* bar = Control<TStatusPanelBar>(w, row.Bar);
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(bar);
        ASSERT_NE(face, nullptr);
        EXPECT_EQ(face->role(), QAccessible::StatusBar);
        EXPECT_EQ(face->text(QAccessible::Name), row.BarName);
        ASSERT_EQ(face->childCount(), static_cast<int>(row.PanelNames.size()));
        EXPECT_EQ(face->child(face->childCount()), nullptr);
        EXPECT_EQ(face->child(-1), nullptr);
        for (int i = 0; i < face->childCount(); ++i) {
            QAccessibleInterface* panel = face->child(i);
            ASSERT_NE(panel, nullptr);
            EXPECT_EQ(panel->role(), QAccessible::StaticText);
            EXPECT_EQ(panel->text(QAccessible::Name), row.PanelNames[static_cast<std::size_t>(i)]);
            EXPECT_EQ(Read(panel), bar->PanelText(i)) << "panel " << i;
            EXPECT_EQ(panel->text(QAccessible::Value), bar->PanelText(i));
            EXPECT_EQ(panel->parent(), face);
            EXPECT_EQ(face->indexOfChild(panel), i);
        }
    }
    QAccessibleInterface* address =
        QAccessible::queryAccessibleInterface(Control<TStatusPanelBar>(w, "SB1"))->child(1);
    EXPECT_EQ(Read(address), QStringLiteral("192.0.2.7"));
}

TEST_F(TMainWindowAccessibilityTest, APanelsTextReadsInPartsAndWhereItIsDrawn) {
    auto& w = CreateWindow();
    ASSERT_TRUE(WaitForFirstAddress());
    auto* bar = Control<TStatusPanelBar>(w, "SB1");
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(bar);
    QAccessibleTextInterface* text = face->child(1)->textInterface();
    ASSERT_NE(text, nullptr);
    const struct {
        int Start, End;
        const char* Expected;
    } ranges[] = {{0, 3, "192"}, {4, 9, "0.2.7"}, {4, -1, "0.2.7"}, {7, 100, ".7"},
                  {-5, 2, "19"}, {20, 30, ""},    {5, 2, ""}};
    for (const auto& range : ranges) {
        EXPECT_EQ(text->text(range.Start, range.End), QString::fromLatin1(range.Expected))
            << range.Start << ".." << range.End;
    }
    EXPECT_EQ(text->characterCount(), 9);

    const QRect drawn(bar->mapToGlobal(bar->PanelRect(1).topLeft()), bar->PanelRect(1).size());
    EXPECT_EQ(face->child(1)->rect(), drawn);
    EXPECT_TRUE(drawn.contains(text->characterRect(0).center()));
    EXPECT_EQ(text->offsetAtPoint(text->characterRect(2).center()), 2);
    EXPECT_EQ(face->childAt(drawn.center().x(), drawn.center().y()), face->child(1));
    EXPECT_TRUE(text->characterRect(9).isNull()) << "past the end";
}

// A screen reader toggles a check-style tool button directly, with no click and no input
// event: the command must run all the same, and its update rule must follow.
TEST_F(TMainWindowAccessibilityTest, ActiveToggledWithoutInputRunsItsCommand) {
    auto& w = CreateWindow();
    ASSERT_TRUE(WaitForRequests("getip", 1));
    auto* button =
        Control<QToolBar>(w, "ToolBar2")->findChild<QToolButton*>(QStringLiteral("ToolButton8"));
    auto* panels = Control<TStatusPanelBar>(w, "SB1");
    ASSERT_TRUE(WaitFor([&] { return panels->PanelText(4) == QStringLiteral("Active"); }));
    auto* timer = Control<QTimer>(w, "Timer1");
    ASSERT_TRUE(WaitFor([&] { return timer->isActive(); })) << "the first check has ended";

    button->toggle(); // what the accessibility bridge does for "Toggle"
    // No check runs now, so only the command itself stops the timer.
    ASSERT_TRUE(WaitFor([&] { return !timer->isActive(); })) << "the command ran";
    EXPECT_FALSE(Action(w, "_Active")->isChecked());
    EXPECT_TRUE(WaitFor([&] { return panels->PanelText(4) == QStringLiteral("Inactive"); }));

    button->toggle();
    EXPECT_TRUE(WaitForRequests("getip", 2)) << "one check at once";
    EXPECT_TRUE(WaitFor([&] { return panels->PanelText(4) == QStringLiteral("Active"); }));

    button->click(); // a click runs it once, not twice
    RunEventsFor(100ms);
    EXPECT_FALSE(Action(w, "_Active")->isChecked());
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(Requests("getip").size(), 2u);
}

// Assistive technology and other programs execute actions with no input event at all; the
// update rules must still follow, or the action's controls show a stale state.
TEST(TActionListWithoutInput, AnExecutedActionRunsTheUpdateRules) {
    TActionList list(nullptr, nullptr);
    int updates = 0;
    QAction* action = list.Add(
        {"_Test", "General", QStringLiteral("Test"), QString()}, [] {}, [&] { ++updates; });
    RunEventsFor(20ms);
    ASSERT_EQ(updates, 0) << "nothing changed, nothing to update";
    action->trigger();
    EXPECT_TRUE(WaitFor([&] { return updates == 1; }, 2s));
    RunEventsFor(20ms);
    EXPECT_EQ(updates, 1) << "once per change, not over and over";
}

TEST_F(TMainWindowAccessibilityTest, ListsEditsAndGroupsHaveTheNamesAUserHears) {
    auto& w = CreateWindow();
    const std::pair<const char*, QString> names[] = {
        {"LV1", QStringLiteral("Address history")},
        {"LV2", QStringLiteral("Buddy list")},
        {"EdtID", QStringLiteral("ID")},
        {"EdtPswd", QStringLiteral("Password")},
        {"EdtCkInterval", QStringLiteral("Check interval")},
        {"EdtService", QStringLiteral("Service")},
        {"GroupBox1", QStringLiteral("Corvale ID")},
        {"GroupBox3", QStringLiteral("Login")},
        {"TabSheet2", QStringLiteral("Contacts")},
        {"Image1", QStringLiteral("Corvale logo")},
    };
    for (const auto& [name, expected] : names) {
        auto* control = Control<QWidget>(w, name);
        ASSERT_NE(control, nullptr) << name;
        EXPECT_EQ(QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name), expected)
            << name;
    }
}

// The tray menu is a popup: a screen reader reads its items as the focus moves over them.
TEST_F(TMainWindowAccessibilityTest, TheTrayMenuAndItsItemsHaveNames) {
    auto& w = CreateWindow();
    auto* menu = Control<TPopupMenu>(w, "PopupTray");
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(menu);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->role(), QAccessible::PopupMenu);
    EXPECT_EQ(face->text(QAccessible::Name), QStringLiteral("Corvale"));
    QStringList items;
    for (int i = 0; i < face->childCount(); ++i) {
        QAccessibleInterface* item = face->child(i);
        if (item->role() == QAccessible::Separator) {
            continue;
        }
        EXPECT_FALSE(item->text(QAccessible::Name).isEmpty()) << "item " << i;
        items << item->text(QAccessible::Name);
    }
    EXPECT_TRUE(items.contains(QStringLiteral("Active"))) << items.join(u'|').toStdString();
    EXPECT_TRUE(items.contains(QStringLiteral("Exit"))) << items.join(u'|').toStdString();
}

// A keyboard user walks a page with Tab from its tab, through the controls in the designed
// order, and comes back to the tab.
TEST_F(TMainWindowAccessibilityTest, TabWalksEachFormPageInTheDesignedOrder) {
    WriteIni("start_hidden=0\n");
    auto& w = CreateWindow();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    auto* pages = Control<QTabWidget>(w, "PageControl1");
    const std::pair<int, QStringList> walks[] = {
        {2,
         {QStringLiteral("Button3"), QStringLiteral("EdtID"), QStringLiteral("EdtPswd"),
          QStringLiteral("EdtService"), QStringLiteral("Button4"), QStringLiteral("EdtCkInterval"),
          QStringLiteral("CkStartup"), QStringLiteral("CkStartMinimized"),
          QStringLiteral("Ck_MinToTray"), QStringLiteral("Ck_StayOnTop"),
          QStringLiteral("CkNotifyChange"), QStringLiteral("Button5"), QStringLiteral("Button6")}},
        {3, {QStringLiteral("Button2"), QStringLiteral("Button1")}},
    };
    for (const auto& [page, expected] : walks) {
        SCOPED_TRACE(page);
        pages->setCurrentIndex(page);
        pages->tabBar()->setFocus();
        QStringList walked;
        for (qsizetype step = 0; step <= expected.size(); ++step) {
            ASSERT_NE(QApplication::focusWidget(), nullptr)
                << walked.join(QLatin1Char(' ')).toStdString();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            walked << QApplication::focusWidget()->objectName();
        }
        EXPECT_EQ(walked, expected + QStringList{QStringLiteral("qt_tabwidget_tabbar")});
    }
}

} // namespace
