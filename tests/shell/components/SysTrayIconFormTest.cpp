// The tray icon and its form: start minimised, minimise to the tray, and a show that brings
// the form back.

#include "shell/components/Application.h"
#include "shell/components/SysTrayIcon.h"
#include "support/FakeTrayShell.h"
#include "tests/support/QtWait.h"

#include <QWidget>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using testing_support::RunEventsFor;
using testing_support::WaitFor;
using N = TNotifyMessage;

namespace {

class TrayFormTest : public ::testing::Test {
protected:
    void SetUp() override { tray = new TSysTrayIcon(&form, TFakeTrayShell::For(shell)); }
    void TearDown() override { Application::ShowMainForm = true; }

    TTrayShellLog shell;
    QWidget form;
    TSysTrayIcon* tray = nullptr;
};

TEST_F(TrayFormTest, StartMinimizedLeavesOnlyTheIcon) {
    tray->SetStartMinimized(true);
    tray->Loaded();
    EXPECT_FALSE(Application::ShowMainForm);
    EXPECT_FALSE(form.isVisible());
    EXPECT_THAT(shell.Messages(), ElementsAre(N::Modify, N::Add));

    form.show();
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.isMinimized());
}

TEST_F(TrayFormTest, WithoutStartMinimizedTheFormIsShownAsUsual) {
    tray->Loaded();
    EXPECT_TRUE(Application::ShowMainForm);
}

TEST_F(TrayFormTest, MinimizeToTrayHidesTheFormAndAddsTheIcon) {
    tray->SetMinimizeToTray(true);
    tray->SetIconVisible(false);
    form.show();
    shell.Calls.clear();

    form.showMinimized();
    ASSERT_TRUE(WaitFor([&] { return !form.isVisible(); }));
    EXPECT_TRUE(tray->IconVisible());
    EXPECT_THAT(shell.Messages(), ElementsAre(N::Add));
}

TEST_F(TrayFormTest, MinimizeWithoutMinimizeToTrayKeepsTheForm) {
    form.show();
    shell.Calls.clear();
    form.showMinimized();
    RunEventsFor(std::chrono::milliseconds(30));
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(shell.Calls.empty());
}

TEST_F(TrayFormTest, ShowingAHiddenMinimizedFormRestoresIt) {
    form.show();
    form.showMinimized();
    tray->HideMainWindow();
    ASSERT_FALSE(form.isVisible());

    form.show();
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.isMinimized());
}

TEST_F(TrayFormTest, HideToTrayHidesTheFormAndShowsTheIcon) {
    form.show();
    tray->SetIconVisible(false);
    shell.Calls.clear();
    tray->HideToTray();
    EXPECT_FALSE(form.isVisible());
    EXPECT_THAT(shell.Messages(), ElementsAre(N::Add));
}

TEST(TrayWithoutOwner, WorksWithoutHooks) {
    TTrayShellLog shell;
    {
        TSysTrayIcon tray(nullptr, TFakeTrayShell::For(shell));
        tray.Loaded();
        tray.HideToTray();
    }
    EXPECT_THAT(shell.Messages(), ElementsAre(N::Modify, N::Add, N::Add, N::Delete));
}

} // namespace
