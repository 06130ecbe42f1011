// The Options and About pages on their own: what they show and give back, and which of their
// buttons and links was used, told to whoever holds the page.

#include "core/uTypes.h"
#include "shell/components/DesignScale.h"
#include "shell/mainwindow/AboutSheet.h"
#include "shell/mainwindow/LinkLabel.h"
#include "shell/mainwindow/OptionsSheet.h"
#include "support/Controls.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

auto Fields(const TOptionsPage& o) {
    return std::tie(o.ID, o.Password, o.CheckIntervalText, o.Startup, o.StartHidden, o.MinToTray,
                    o.StayOnTop, o.Service, o.NotifyChange);
}

// Each switch differs from its neighbours, so a control read into the wrong field shows.
TEST(TOptionsSheetTest, ReadGivesBackWhatShowShowed) {
    const TOptionsPage records[] = {
        {"jdoe", "s3cret", "120", true, false, true, false, "https://ip.example.net:8443", true},
        {"", "", "5-", false, true, false, true, "", false},
    };
    TOptionsSheet sheet{TDesignScale()};
    for (const TOptionsPage& shown : records) {
        SCOPED_TRACE(shown.CheckIntervalText);
        sheet.Show(shown);
        EXPECT_EQ(Fields(sheet.Read()), Fields(shown));
    }
}

TEST(TOptionsSheetTest, ReadGivesBackWhatTheUserChanged) {
    TOptionsSheet sheet{TDesignScale()};
    sheet.Show({"stored", "old", "900", false, true, false, false, "old.example", true});
    Control<QLineEdit>(sheet, "EdtID")->setText(QStringLiteral("edited"));
    Control<QLineEdit>(sheet, "EdtPswd")->setText(QStringLiteral("new"));
    Control<QLineEdit>(sheet, "EdtCkInterval")->setText(QStringLiteral("61"));
    Control<QCheckBox>(sheet, "CkStartup")->setChecked(true);
    Control<QCheckBox>(sheet, "CkStartMinimized")->setChecked(false);
    Control<QCheckBox>(sheet, "Ck_MinToTray")->setChecked(true);
    Control<QCheckBox>(sheet, "Ck_StayOnTop")->setChecked(true);
    Control<QLineEdit>(sheet, "EdtService")->setText(QStringLiteral(" new.example:8080 "));
    Control<QCheckBox>(sheet, "CkNotifyChange")->setChecked(false);
    const TOptionsPage expected{
        "edited", "new", "61", true, false, true, true, " new.example:8080 ", false};
    EXPECT_EQ(Fields(sheet.Read()), Fields(expected));
}

TEST(TOptionsSheetTest, TheIntervalEditGrowsWithTheDesign) {
    const QFontMetrics metrics(QFont(QStringLiteral("DejaVu Sans"), 10));
    const QString wide = QStringLiteral("WWWWWWWW");
    const TDesignScale design(metrics, {{wide, metrics.horizontalAdvance(wide) / 2}});
    ASSERT_GT(design.XFactor(), 1.5);
    TOptionsSheet sheet{design};
    EXPECT_EQ(Control<QLineEdit>(sheet, "EdtCkInterval")->maximumWidth(), design.X(70));
}

// Pressing each control in turn: exactly its own signal comes, once.
template <typename Sheet>
void ExpectEachControlSignalsAlone(
    Sheet& sheet, const std::vector<std::pair<const char*, void (Sheet::*)()>>& presses) {
    for (const auto& [control, signal] : presses) {
        SCOPED_TRACE(control);
        std::vector<std::unique_ptr<QSignalSpy>> spies;
        for (const auto& other : presses) {
            spies.push_back(std::make_unique<QSignalSpy>(&sheet, other.second));
        }
        QTest::mouseClick(Control<QWidget>(sheet, control), Qt::LeftButton);
        for (std::size_t i = 0; i < presses.size(); ++i) {
            EXPECT_EQ(spies[i]->count(), presses[i].second == signal ? 1 : 0) << presses[i].first;
        }
    }
}

TEST(TOptionsSheetTest, EachButtonSaysItWasPressed) {
    TOptionsSheet sheet{TDesignScale()};
    sheet.show();
    ExpectEachControlSignalsAlone<TOptionsSheet>(sheet,
                                                 {
                                                     {"Button3", &TOptionsSheet::createIdClicked},
                                                     {"Button4", &TOptionsSheet::loginClicked},
                                                     {"Button5", &TOptionsSheet::saveClicked},
                                                     {"Button6", &TOptionsSheet::cancelClicked},
                                                 });
}

TEST(TAboutSheetTest, ShowsTheProductAndWhereToReachItsMaker) {
    const TProduct product{"Corvale", 2, 5, 1, 734, "2026-05-28", "2.5.1"};
    const std::pair<QString, QString> homes[] = {
        {QStringLiteral("https://corvale.example/"), QStringLiteral("https://corvale.example")},
        {QStringLiteral("https://corvale.example/tools"),
         QStringLiteral("https://corvale.example/tools")},
    };
    TAboutSheet sheet;
    for (const auto& [home, shown] : homes) {
        SCOPED_TRACE(home.toStdString());
        sheet.Show(product, home, QStringLiteral("support@corvale.example"));
        EXPECT_EQ(Control<QLabel>(sheet, "Lbl_name")->text(), QStringLiteral("Corvale"));
        EXPECT_EQ(Control<QLabel>(sheet, "Lbl_version")->text(),
                  QStringLiteral("Version 2.5.1 (build 734)"));
        EXPECT_EQ(Control<QLabel>(sheet, "Lbl_release")->text(),
                  QStringLiteral("Release date: 2026-05-28"));
        EXPECT_EQ(Control<TLinkLabel>(sheet, "Lbl_web")->text(), shown);
        EXPECT_EQ(Control<TLinkLabel>(sheet, "Lbl_mail")->text(),
                  QStringLiteral("support@corvale.example"));
    }
}

TEST(TAboutSheetTest, EachButtonAndLinkSaysItWasUsed) {
    TAboutSheet sheet;
    sheet.Show(TProduct{}, QStringLiteral("https://corvale.example/"),
               QStringLiteral("support@corvale.example"));
    sheet.show();
    ExpectEachControlSignalsAlone<TAboutSheet>(sheet,
                                               {
                                                   {"Button2", &TAboutSheet::checkUpdatesClicked},
                                                   {"Button1", &TAboutSheet::okClicked},
                                                   {"Lbl_web", &TAboutSheet::homePageClicked},
                                                   {"Lbl_mail", &TAboutSheet::contactClicked},
                                               });
}

// Escape anywhere on a page presses the button that leaves it.
void PressEscapeIn(QWidget& page, const char* focus) {
    page.show();
    page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
    auto* control = Control<QWidget>(page, focus);
    control->setFocus();
    QTest::keyClick(control, Qt::Key_Escape);
}

TEST(TPageSheetsTest, EscapeLeavesEitherPage) {
    TOptionsSheet options{TDesignScale()};
    QSignalSpy cancelled(&options, &TOptionsSheet::cancelClicked);
    PressEscapeIn(options, "EdtID");
    EXPECT_EQ(cancelled.count(), 1);

    TAboutSheet about;
    QSignalSpy left(&about, &TAboutSheet::okClicked);
    PressEscapeIn(about, "Button2");
    EXPECT_EQ(left.count(), 1);
}

} // namespace
