// A window that was minimised because the desktop had no notification area hides into the
// tray once one appears, unless the user brought it back meanwhile.

#include "mainwindow/MainWindowFixture.h"
#include "tests/support/QtWait.h"

#include <functional>

using testing_support::RunEventsFor;
using testing_support::WaitFor;
using namespace std::chrono_literals;

namespace {

class TMainWindowLateTrayTest : public TMainWindowTest {};

struct THideRoute {
    const char* Name;
    const char* Ini;
    std::function<void(TCorvaleFormMain&)> Hide; // after the window is up; empty: at start
};

TEST_F(TMainWindowLateTrayTest, AWindowMinimisedForWantOfATrayHidesIntoTheOneThatAppears) {
    const THideRoute routes[] = {
        {"the hidden start", "start_hidden=1\n", {}},
        {"a close with min_to_tray", "start_hidden=0\nmin_to_tray=1\n",
         [](TCorvaleFormMain& w) { w.close(); }},
    };
    for (const THideRoute& route : routes) {
        SCOPED_TRACE(route.Name);
        trayAvailable = false;
        WriteIni(route.Ini);
        auto& w = CreateWindow();
        if (route.Hide) {
            ASSERT_TRUE(WaitFor([&] { return w.isVisible(); }));
            route.Hide(w);
        }
        ASSERT_TRUE(WaitFor([&] { return w.isMinimized(); }));
        RunEventsFor(1500ms);
        EXPECT_TRUE(w.isVisible()) << "no tray yet: the window stays reachable";

        trayAvailable = true; // a tray host started
        EXPECT_TRUE(WaitFor([&] { return !w.isVisible(); }, 5s));
        DestroyWindow();
    }
}

TEST_F(TMainWindowLateTrayTest, AWindowTheUserBroughtBackStaysOpenWhenATrayAppears) {
    trayAvailable = false;
    auto& w = CreateWindow(); // starts hidden: minimised for want of a tray
    ASSERT_TRUE(WaitFor([&] { return w.isMinimized(); }));
    w.showNormal();
    trayAvailable = true;
    RunEventsFor(2500ms);
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.isMinimized());
}

} // namespace
