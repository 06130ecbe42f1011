// The list columns follow the font in use like the rest of the window: every cell of a filled
// history and buddy list shows its whole text, while the settings file keeps design pixels.

#include "mainwindow/MainWindowFixture.h"
#include "support/FormAccess.h"
#include "support/TextRoom.h"

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QHeaderView>
#include <QStyleOptionViewItem>
#include <QTableWidget>
#include <string>
#include <tuple>
#include <vector>

namespace {

using TRow = std::vector<const char*>;

// The widest texts each column gets: the longest address and date-time texts of the display.
const std::vector<TRow> kHistoryRows = {
    {"1", "255.255.255.255", "Dec 06 2026 12:30:05"},
    {"99", "188.188.188.188", "May 28 2026 22:58:58"},
};
const std::vector<TRow> kBuddyRows = {
    {"1", "buddy_12345", "home.example.org", "255.255.255.255", "Dec 06 2026 12:30:05"},
    {"99", "W0000000", "a.b.c", "188.188.188.188", "May 28 2026 22:58:58"},
};

void Fill(QTableWidget* list, const std::vector<TRow>& rows) {
    for (const TRow& row : rows) {
        const int at = list->rowCount();
        list->insertRow(at);
        for (std::size_t column = 0; column < row.size(); ++column) {
            list->setItem(at, static_cast<int>(column),
                          new QTableWidgetItem(QString::fromLatin1(row[column])));
        }
    }
}

// The width a cell's text needs in the list's font with the style's margins around it, as
// the delegate reports it, against the column less its grid line.
void ExpectEveryCellShowsItsText(const QTableWidget* list) {
    QStyleOptionViewItem option;
    option.initFrom(list);
    option.widget = list;
    option.font = list->font();
    option.fontMetrics = list->fontMetrics();
    const int grid = list->showGrid() ? 1 : 0;
    for (int row = 0; row < list->rowCount(); ++row) {
        for (int column = 0; column < list->columnCount(); ++column) {
            const QModelIndex index = list->model()->index(row, column);
            const QString text = index.data().toString();
            SCOPED_TRACE(list->objectName().toStdString() + " column " + std::to_string(column) +
                         ": " + text.toStdString());
            const int needed = list->itemDelegateForIndex(index)->sizeHint(option, index).width();
            EXPECT_GT(needed, list->fontMetrics().horizontalAdvance(text)) << "margins counted";
            EXPECT_LE(needed, list->columnWidth(column) - grid);
        }
    }
}

} // namespace

class TMainWindowColumnsTest : public TMainWindowTest,
                               public ::testing::WithParamInterface<std::tuple<const char*, int>> {
protected:
    void SetUp() override {
        TMainWindowTest::SetUp();
        if (!QFontDatabase::hasFamily(Family())) {
            GTEST_SKIP() << "the font family " << Family().toStdString()
                         << " is not installed (scripts/setup installs it)";
        }
    }
    QString Family() const { return QString::fromLatin1(std::get<0>(GetParam())); }
    int Points() const { return std::get<1>(GetParam()); }
};

TEST_P(TMainWindowColumnsTest, EveryCellOfFilledListsShowsItsWholeText) {
    const TApplicationFontScope font(Points(), Family());
    WriteIni("start_hidden=0\n");
    auto& w = CreateWindow();
    ASSERT_EQ(w.font().family(), Family());
    auto* history = Control<QTableWidget>(w, "LV1");
    auto* buddies = Control<QTableWidget>(w, "LV2");
    Fill(history, kHistoryRows);
    Fill(buddies, kBuddyRows);
    ExpectEveryCellShowsItsText(history);
    ExpectEveryCellShowsItsText(buddies);
}

// Whatever the columns show, a fresh start and exit stores the designed widths.
TEST_P(TMainWindowColumnsTest, AFreshExitStoresTheDesignedWidths) {
    {
        const TApplicationFontScope font(Points(), Family());
        CreateWindow();
        DestroyWindow();
    }
    const std::string ini = ReadIni();
    EXPECT_NE(ini.find("[Columns]\nip=32,100,140\nbuddies=32,95,130,95,140\n"), std::string::npos)
        << ini;
}

INSTANTIATE_TEST_SUITE_P(Fonts, TMainWindowColumnsTest,
                         ::testing::Combine(::testing::Values("DejaVu Sans", "Liberation Sans"),
                                            ::testing::Values(8, 10, 11, 14)),
                         [](const auto& info) {
                             std::string family = std::get<0>(info.param);
                             std::erase(family, ' ');
                             return family + "_" + std::to_string(std::get<1>(info.param)) + "pt";
                         });

// A width the user dragged is kept in design pixels: dragged at a large font to what the
// "Date/Time" column shows there, it is stored as that column's designed width, shows as wide
// as that column at a small font, and is written back unchanged.
TEST_F(TMainWindowTest, ADraggedWidthReadsBackTheSameAtAnotherFont) {
    const QString family = QStringLiteral("DejaVu Sans");
    {
        const TApplicationFontScope font(14, family);
        auto& w = CreateWindow();
        auto* history = Control<QTableWidget>(w, "LV1");
        ASSERT_GT(history->columnWidth(2), 140) << "the columns grow at 14 pt";
        history->horizontalHeader()->resizeSection(1, history->columnWidth(2));
        DestroyWindow();
    }
    EXPECT_NE(ReadIni().find("ip=32,140,140\n"), std::string::npos) << ReadIni();
    {
        const TApplicationFontScope font(8, family);
        auto& w = CreateWindow();
        const auto* history = Control<QTableWidget>(w, "LV1");
        EXPECT_EQ(history->columnWidth(1), history->columnWidth(2));
        DestroyWindow();
    }
    EXPECT_NE(ReadIni().find("ip=32,140,140\n"), std::string::npos) << ReadIni();
}
