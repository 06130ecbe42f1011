// The window timers' longest period: what the check timer and the tray's icon cycle are given
// for a period beyond a signed 32 bits.

#include "shell/components/WindowTimer.h"

#include "shell/components/SysTrayIcon.h"
#include "support/FakeTrayShell.h"

#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <gtest/gtest.h>

namespace {

TEST(WindowTimerPeriodTest, TakesPeriodsUpToItsSigned32Bits) {
    EXPECT_EQ(WindowTimerPeriod(900000u), 900000);
    EXPECT_EQ(WindowTimerPeriod(2147483647u), 2147483647);
    EXPECT_EQ(WindowTimerPeriod(2147483648u), 2147483647) << "no wrap to a negative period";
    EXPECT_EQ(WindowTimerPeriod(4294967000u), 2147483647) << "the longest check interval";
}

TEST(WindowTimerPeriodTest, TheTrayCycleRunsALongIntervalAsTheLongestPeriod) {
    TTrayShellLog shell;
    QWidget form;
    TSysTrayIcon tray(&form, TFakeTrayShell::For(shell));
    tray.SetCycleInterval(UINT32_MAX);
    tray.SetCycleIcons(true);
    const auto* timer = tray.findChild<QTimer*>(QStringLiteral("CycleTimer"));
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), kMaxWindowTimerPeriodMs);
}

} // namespace
