// The tray icon's mouse messages: which events, menus and default items they give, in order.

#include "shell/components/PopupMenu.h"
#include "shell/components/SysTrayIcon.h"
#include "shell/components/WindowMessages.h"
#include "support/FakeTrayShell.h"
#include "tests/support/QtWait.h"

#include <QAction>
#include <QWidget>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing_support::WaitFor;
namespace M = TrayMessage;

namespace {

std::string ButtonName(TMouseButton button) {
    switch (button) {
    case TMouseButton::mbLeft:
        return "left";
    case TMouseButton::mbRight:
        return "right";
    case TMouseButton::mbMiddle:
        return "middle";
    }
    return "?";
}

// A form with the tray icon and a menu whose first item is the default, every event logged.
class TrayEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        tray = new TSysTrayIcon(&form, TFakeTrayShell::For(shell));
        menu = new TPopupMenu(&form);
        QAction* open = menu->addAction(QStringLiteral("Open"));
        menu->addAction(QStringLiteral("Exit"));
        menu->setDefaultAction(open);
        QObject::connect(open, &QAction::triggered, [this] { log.push_back("default"); });
        QObject::connect(menu, &QMenu::aboutToShow, [this] { log.push_back("menu"); });
        tray->SetPopupMenu(menu);
        tray->OnClick = [this](TSysTrayIcon* sender) { Log(sender, "click"); };
        tray->OnDblClick = [this](TSysTrayIcon* sender) { Log(sender, "dblclick"); };
        tray->OnMouseDown = [this](TSysTrayIcon* sender, TMouseButton b, TShiftState, int, int) {
            Log(sender, "down " + ButtonName(b));
        };
        tray->OnMouseUp = [this](TSysTrayIcon* sender, TMouseButton b, TShiftState, int, int) {
            Log(sender, "up " + ButtonName(b));
        };
        tray->OnMouseMove = [this](TSysTrayIcon* sender, TShiftState, int, int) {
            Log(sender, "move");
        };
    }
    void TearDown() override { menu->close(); }

    void Log(TSysTrayIcon* sender, const std::string& what) {
        EXPECT_EQ(sender, tray);
        log.push_back(what);
    }

    TTrayShellLog shell;
    QWidget form;
    TSysTrayIcon* tray = nullptr;
    TPopupMenu* menu = nullptr;
    std::vector<std::string> log;
};

struct TOrderCase {
    const char* Name;
    bool LeftPopup;
    bool AutoPopup;
    bool Enabled;
    std::vector<std::uint32_t> Messages;
    std::vector<std::string> Expected;
};

class TrayEventOrderTest : public TrayEventsTest,
                           public ::testing::WithParamInterface<TOrderCase> {};

TEST_P(TrayEventOrderTest, GivesTheEventsInOrder) {
    const TOrderCase& c = GetParam();
    tray->SetLeftPopup(c.LeftPopup);
    menu->SetAutoPopup(c.AutoPopup);
    tray->SetEnabled(c.Enabled);
    for (const std::uint32_t message : c.Messages) {
        shell.Send({message});
    }
    EXPECT_EQ(log, c.Expected);
}

const std::vector<std::uint32_t> kLeftClick = {M::LButtonDown, M::LButtonUp};
const std::vector<std::uint32_t> kLeftDouble = {M::LButtonDown, M::LButtonUp, M::LButtonDblClk,
                                                M::LButtonUp};
const std::vector<std::uint32_t> kRightClick = {M::RButtonDown, M::RButtonUp};
const std::vector<std::uint32_t> kEverything = {
    M::MouseMove, M::LButtonDown,   M::LButtonUp,   M::LButtonDblClk, M::RButtonDown,
    M::RButtonUp, M::RButtonDblClk, M::MButtonDown, M::MButtonUp,     M::MButtonDblClk};

INSTANTIATE_TEST_SUITE_P(
    Cases, TrayEventOrderTest,
    ::testing::Values(
        TOrderCase{"LeftClick", false, true, true, kLeftClick, {"down left", "click", "up left"}},
        TOrderCase{"LeftDoubleClick",
                   false,
                   true,
                   true,
                   kLeftDouble,
                   {"down left", "click", "up left", "dblclick", "default", "up left"}},
        TOrderCase{"RightButtonOpensMenuAfterDown",
                   false,
                   true,
                   true,
                   kRightClick,
                   {"down right", "menu", "up right"}},
        TOrderCase{"MiddleButtonNeverClicks",
                   false,
                   true,
                   true,
                   {M::MButtonDown, M::MButtonUp},
                   {"down middle", "up middle"}},
        TOrderCase{"OtherDoubleClicksDoNothing",
                   false,
                   true,
                   true,
                   {M::RButtonDblClk, M::MButtonDblClk, 0x2FF},
                   {}},
        TOrderCase{"MouseMove", false, true, true, {M::MouseMove}, {"move"}},
        TOrderCase{"LeftPopupOpensMenuOnLeftDown",
                   true,
                   true,
                   true,
                   kLeftClick,
                   {"down left", "menu", "click", "up left"}},
        TOrderCase{"LeftPopupDoubleClickRunsNoDefault",
                   true,
                   true,
                   true,
                   {M::LButtonDblClk, M::LButtonUp},
                   {"dblclick", "up left"}},
        TOrderCase{"LeftPopupKeepsRightMenu",
                   true,
                   true,
                   true,
                   kRightClick,
                   {"down right", "menu", "up right"}},
        TOrderCase{
            "AutoPopupOffOpensNoMenu", false, false, true, kRightClick, {"down right", "up right"}},
        TOrderCase{"AutoPopupOffRunsNoDefault",
                   false,
                   false,
                   true,
                   kLeftDouble,
                   {"down left", "click", "up left", "dblclick", "up left"}},
        TOrderCase{"DisabledIgnoresEverything", false, true, false, kEverything, {}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(TrayEventsTest, MouseEventsCarryTheCursorAndTheKeyboardState) {
    shell.Cursor = QPoint(31, 47);
    shell.Keys = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
    std::vector<std::tuple<TMouseButton, TShiftState, int, int>> downs;
    std::vector<TShiftState> moves;
    tray->OnMouseDown = [&](TSysTrayIcon*, TMouseButton b, TShiftState s, int x, int y) {
        downs.emplace_back(b, s, x, y);
    };
    tray->OnMouseMove = [&](TSysTrayIcon*, TShiftState s, int, int) { moves.push_back(s); };
    menu->SetAutoPopup(false);

    shell.Send({M::LButtonDown, M::RButtonDown, M::MButtonDown, M::MouseMove});

    const TShiftState keys = ssShift | ssCtrl | ssAlt;
    EXPECT_THAT(downs, ElementsAre(std::tuple(TMouseButton::mbLeft, keys | ssLeft, 31, 47),
                                   std::tuple(TMouseButton::mbRight, keys | ssRight, 31, 47),
                                   std::tuple(TMouseButton::mbMiddle, keys | ssMiddle, 31, 47)));
    EXPECT_THAT(moves, ElementsAre(keys));
}

TEST_F(TrayEventsTest, MenuOpensAtTheCursorForThisIcon) {
    shell.Cursor = QPoint(40, 30);
    shell.Send({M::RButtonDown});
    ASSERT_TRUE(WaitFor([&] { return menu->isVisible(); }));
    EXPECT_EQ(menu->pos(), QPoint(40, 30));
    EXPECT_EQ(menu->PopupComponent(), tray);
}

TEST_F(TrayEventsTest, NoMenuWhenTheCursorCannotBeRead) {
    shell.Cursor.reset();
    shell.Send({M::RButtonDown, M::RButtonUp});
    EXPECT_THAT(log, ElementsAre("down right", "up right"));
    EXPECT_FALSE(menu->isVisible());
}

TEST_F(TrayEventsTest, DefaultItemMustBeATopLevelItem) {
    QMenu* sub = menu->addMenu(QStringLiteral("More"));
    QAction* nested = sub->addAction(QStringLiteral("Nested"));
    QObject::connect(nested, &QAction::triggered, [this] { log.push_back("nested"); });
    menu->setDefaultAction(nested);
    shell.Send({M::LButtonDblClk});
    EXPECT_THAT(log, ElementsAre("dblclick"));
}

TEST_F(TrayEventsTest, DisabledDefaultItemDoesNotRun) {
    menu->defaultAction()->setEnabled(false);
    shell.Send({M::LButtonDblClk});
    EXPECT_THAT(log, ElementsAre("dblclick"));
}

TEST_F(TrayEventsTest, UnassignedEventsAreSkipped) {
    tray->OnClick = nullptr;
    tray->OnMouseDown = nullptr;
    shell.Send({M::LButtonDown, M::LButtonUp});
    EXPECT_THAT(log, ElementsAre("up left"));
}

TEST_F(TrayEventsTest, SessionEndIsAlwaysAllowed) {
    tray->SetEnabled(false);
    EXPECT_EQ(tray->TrayWindowProc(WM_QUERYENDSESSION, 0, 0), 1);
    EXPECT_EQ(tray->TrayWindowProc(kTrayCallbackMessage, 0, M::LButtonDown), 0);
    EXPECT_EQ(tray->TrayWindowProc(0x0F, 0, 0), 0);
    EXPECT_THAT(log, IsEmpty());
}

TEST_F(TrayEventsTest, RemovedMenuIsForgottenAndOpensNothing) {
    delete menu;
    menu = nullptr;
    EXPECT_EQ(tray->PopupMenu(), nullptr);
    shell.Send({M::RButtonDown, M::RButtonUp, M::LButtonDblClk});
    EXPECT_THAT(log, ElementsAre("down right", "up right", "dblclick"));
    menu = new TPopupMenu(&form); // for TearDown
}

} // namespace
