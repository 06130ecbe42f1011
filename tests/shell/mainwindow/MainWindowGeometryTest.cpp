// The window's geometry follows the font in use: the status panels and the pages leave room
// for every text of the design at any size the user can give the window, a font that fits the
// design keeps its pixels, and the list columns keep the designed pixels the settings store.

#include "mainwindow/MainWindowFixture.h"
#include "shell/mainwindow/StatusPanels.h"
#include "support/FormAccess.h"
#include "support/TextRoom.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>

namespace {

// Every status panel's texts: the design's and those the program writes into it.
struct TPanelText {
    const char* Bar;
    int Panel;
    const char* Text;
};
constexpr TPanelText kPanelTexts[] = {
    {"SB1", 0, "IP"},         {"SB1", 1, "255.255.255.255"},
    {"SB1", 2, "Last Check"}, {"SB1", 4, "Active"},
    {"SB1", 4, "Inactive"},   {"SB2", 0, "Ok"},
    {"SB2", 0, "Getting..."}, {"SB2", 0, "OK"},
    {"SB2", 1, "Total"},
};

class TMainWindowFontTest : public TMainWindowTest, public ::testing::WithParamInterface<int> {
protected:
    TCorvaleFormMain& CreateShownWindow() {
        WriteIni("start_hidden=0\n");
        return CreateWindow();
    }

    static void ExpectPanelTextsFit(TCorvaleFormMain& w) {
        for (const TPanelText& c : kPanelTexts) {
            auto* bar = Control<TStatusPanelBar>(w, c.Bar);
            // A bar is laid out once its page is shown.
            Control<QTabWidget>(w, "PageControl1")->setCurrentWidget(bar->parentWidget());
            QCoreApplication::processEvents();
            const QString text = QString::fromLatin1(c.Text);
            SCOPED_TRACE(std::string(c.Bar) + " panel " + std::to_string(c.Panel) + ": " + c.Text);
            bar->SetPanelText(c.Panel, text);
            EXPECT_LE(bar->fontMetrics().horizontalAdvance(text),
                      bar->PanelTextRect(c.Panel).width());
        }
    }

    // Each page in turn, laid out at the window's present size: no label, check box, button,
    // tool button or tab has less room than its text needs.
    static void ExpectPageTextsFit(TCorvaleFormMain& w) {
        auto* pages = Control<QTabWidget>(w, "PageControl1");
        for (int page = 0; page < pages->count(); ++page) {
            pages->setCurrentIndex(page);
            QCoreApplication::processEvents();
            SCOPED_TRACE("page " + pages->tabText(page).toStdString());
            for (const QWidget* control : pages->widget(page)->findChildren<QWidget*>()) {
                QString text;
                if (const auto* label = qobject_cast<const QLabel*>(control)) {
                    text = label->text();
                } else if (const auto* button = qobject_cast<const QAbstractButton*>(control)) {
                    text = button->text();
                }
                if (text.isEmpty() || !control->isVisibleTo(&w)) {
                    continue;
                }
                SCOPED_TRACE(control->objectName().toStdString() + ": " + text.toStdString());
                if (qobject_cast<const QToolButton*>(control) != nullptr) {
                    EXPECT_TRUE(control->isVisible()) << "moved into the bar's overflow menu";
                    EXPECT_GE(control->width(), control->sizeHint().width());
                } else {
                    EXPECT_LE(TextAdvance(control, text), TextRoom(control));
                }
            }
        }
        const QTabBar* tabs = pages->tabBar();
        for (int i = 0; i < tabs->count(); ++i) {
            EXPECT_TRUE(tabs->rect().contains(tabs->tabRect(i))) << tabs->tabText(i).toStdString();
        }
        pages->setCurrentIndex(0);
    }

    TApplicationFontScope font_{static_cast<qreal>(GetParam())};
};

TEST_P(TMainWindowFontTest, StatusPanelTextsFit) {
    auto& w = CreateShownWindow();
    ExpectPanelTextsFit(w);
}

TEST_P(TMainWindowFontTest, PageTextsFitAtTheStartSizeAndTheSmallest) {
    auto& w = CreateShownWindow();
    EXPECT_EQ(w.font().pointSizeF(), GetParam()) << "the desktop's font, not the designed one";
    {
        SCOPED_TRACE("start size");
        ExpectPageTextsFit(w);
    }
    w.resize(w.minimumSize());
    QCoreApplication::processEvents();
    ASSERT_EQ(w.size(), w.minimumSize());
    {
        SCOPED_TRACE("smallest size");
        ExpectPageTextsFit(w);
    }
}

// The settings file stores the columns' pixels: a fresh start and exit writes the design's.
TEST_P(TMainWindowFontTest, ListColumnsKeepTheDesignedPixels) {
    CreateShownWindow();
    DestroyWindow();
    const std::string ini = ReadIni();
    EXPECT_NE(ini.find("[Columns]\nip=32,100,140\nbuddies=32,95,130,95,140\n"), std::string::npos)
        << ini;
}

INSTANTIATE_TEST_SUITE_P(Points, TMainWindowFontTest, ::testing::Values(8, 10, 11, 14),
                         [](const auto& info) { return std::to_string(info.param) + "pt"; });

// A font whose texts fit the design's widths keeps its pixels exactly.
TEST_F(TMainWindowTest, AFontThatFitsTheDesignKeepsItsPixels) {
    const TApplicationFontScope font{6};
    WriteIni("start_hidden=0\n");
    auto& w = CreateWindow();
    EXPECT_EQ(w.size(), QSize(400, 301));
    EXPECT_EQ(w.minimumSize(), QSize(372, 301));
    const auto widths = [](const TStatusPanelBar* bar) {
        std::vector<int> all;
        for (int i = 0; i < bar->PanelCount(); ++i) {
            all.push_back(bar->PanelWidth(i));
        }
        return all;
    };
    EXPECT_EQ(widths(Control<TStatusPanelBar>(w, "SB1")),
              (std::vector<int>{16, 100, 60, 140, 50, 50}));
    EXPECT_EQ(widths(Control<TStatusPanelBar>(w, "SB2")), (std::vector<int>{50, 32, 50, 50}));
    EXPECT_EQ(Control<QLineEdit>(w, "EdtCkInterval")->maximumWidth(), 70);
    EXPECT_EQ(Control<QWidget>(w, "ToolButton4")->minimumHeight(), 27);
}

} // namespace
