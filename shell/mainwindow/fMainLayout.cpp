// The main window's pages as the user sees them at start: the two lists with their tool bars
// and status panels built here, the Options and About pages as widgets of their own; and the
// window's size.

#include "core/uDateTime.h"
#include "settings/uWidthList.h"
#include "shell/components/Icons.h"
#include "shell/components/ImageList.h"
#include "shell/mainwindow/AboutSheet.h"
#include "shell/mainwindow/ActionList.h"
#include "shell/mainwindow/OptionsSheet.h"
#include "shell/mainwindow/StatusPanels.h"
#include "shell/mainwindow/fMain.h"

#include <QAction>
#include <QHeaderView>
#include <QStyle>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <vector>

namespace {

// A report-style list: grid lines, whole-row selection, read-only, a context menu; its
// columns take the designed widths, scaled like the rest of the window (the settings keep
// the design pixels).
QTableWidget* NewReportList(const QString& name, const std::vector<QString>& titles,
                            const TColumnWidths& widths, const TDesignScale& scale,
                            QAbstractItemView::SelectionMode selection, QWidget* parent) {
    auto* list = new QTableWidget(0, static_cast<int>(titles.size()), parent);
    list->setObjectName(name);
    list->setShowGrid(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(selection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setWordWrap(false);
    list->setTabKeyNavigation(false);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    list->verticalHeader()->hide();
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 4);
    QHeaderView* header = list->horizontalHeader();
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setMinimumSectionSize(1);
    for (std::size_t i = 0; i < titles.size(); ++i) {
        list->setHorizontalHeaderItem(static_cast<int>(i), new QTableWidgetItem(titles[i]));
        if (i < widths.size()) {
            list->setColumnWidth(static_cast<int>(i), scale.X(widths[i]));
        }
    }
    return list;
}

QToolBar* NewToolBar(const QString& name, QWidget* parent) {
    auto* bar = new QToolBar(parent);
    bar->setObjectName(name);
    bar->setIconSize(QSize(16, 16));
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->setMovable(false);
    bar->setFloatable(false);
    return bar;
}

void AddToolButton(QToolBar* bar, const char* name, QAction* action, int height) {
    bar->addAction(action);
    QWidget* button = bar->widgetForAction(action);
    button->setObjectName(QString::fromLatin1(name));
    button->setMinimumHeight(height);
}

// No button goes into the bar's overflow menu: the window is never narrower than the bar.
void KeepEveryButtonInSight(QToolBar* bar) {
    bar->setMinimumWidth(bar->sizeHint().width());
}

void AddToolSeparator(QToolBar* bar, const char* name) {
    bar->addSeparator()->setObjectName(QString::fromLatin1(name));
}

QWidget* NewPage(const char* name) {
    auto* page = new QWidget;
    page->setObjectName(QString::fromLatin1(name));
    return page;
}

// Between a status panel's edges and its text (the bar's frame and indent).
constexpr int kPanelFrame = 6;

// The status panels as designed: texts and widths in design pixels.
const std::vector<TStatusPanelDef> kSB1Panels = {
    {QStringLiteral("IP"), 16},         {QString(), 100},
    {QStringLiteral("Last Check"), 60}, {QString(), 140},
    {QStringLiteral("Active"), 50},     {QString(), 50}};
const std::vector<TStatusPanelDef> kSB2Panels = {
    {QStringLiteral("Ok"), 50}, {QStringLiteral("Total"), 32}, {QString(), 50}, {QString(), 50}};

// Between a list column's edges and its cell text: the style's margin on either side and the
// grid line.
int ListCellFrame(const QStyle* style) {
    return 2 * (style->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1) + 1;
}

// The longest date and time the last-check panel and the lists show, in the process's time format.
QString WidestCheckTime() {
    const auto sample = TryEncodeDateTime({2026, 5, 28, 22, 58, 58, 0});
    return sample ? QString::fromLocal8Bit(FormatDisplayDateTime(*sample)) : QString();
}

// The status panels and the list columns are the window's texts in fixed widths: the window
// grows with what they need, their design texts and what the program writes into them.
TDesignScale MainWindowDesignScale(const QFontMetrics& metrics, int cellFrame) {
    const auto room = [](const std::vector<TStatusPanelDef>& panels, std::size_t index) {
        return panels[index].Width - kPanelFrame;
    };
    const TListWidths lists = DesignedListWidths();
    const auto cell = [cellFrame](const TColumnWidths& widths, std::size_t index) {
        return widths[index] - cellFrame;
    };
    return TDesignScale(metrics, {
                                     {kSB1Panels[0].Text, room(kSB1Panels, 0)},
                                     {QStringLiteral("255.255.255.255"), room(kSB1Panels, 1)},
                                     {kSB1Panels[2].Text, room(kSB1Panels, 2)},
                                     {WidestCheckTime(), room(kSB1Panels, 3)},
                                     {kSB1Panels[4].Text, room(kSB1Panels, 4)},
                                     {QStringLiteral("Inactive"), room(kSB1Panels, 4)},
                                     {kSB2Panels[0].Text, room(kSB2Panels, 0)},
                                     {QStringLiteral("Getting..."), room(kSB2Panels, 0)},
                                     {kSB2Panels[1].Text, room(kSB2Panels, 1)},
                                     {QStringLiteral("99999"), room(kSB2Panels, 2)},
                                     {QStringLiteral("255.255.255.255"), cell(lists.IP, 1)},
                                     {WidestCheckTime(), cell(lists.IP, 2)},
                                     {QStringLiteral("255.255.255.255"), cell(lists.Buddies, 3)},
                                     {WidestCheckTime(), cell(lists.Buddies, 4)},
                                 });
}

std::vector<TStatusPanelDef> Scaled(std::vector<TStatusPanelDef> panels,
                                    const TDesignScale& scale) {
    for (TStatusPanelDef& panel : panels) {
        panel.Width = scale.X(panel.Width);
    }
    return panels;
}

} // namespace

void TCorvaleFormMain::CreatePages() {
    // The font in use (the desktop's), not the designed one: the geometry follows it.
    design_ = MainWindowDesignScale(fontMetrics(), ListCellFrame(style()));
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setIconSize(QSize(16, 16));
    // Every tab in sight, so the window is never narrower than its tabs.
    PageControl1->setUsesScrollButtons(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(PageControl1);

    TabSheet1 = NewPage("TabSheet1");
    TabSheet2 = NewPage("TabSheet2");
    TabSheet3 = new TOptionsSheet(design_);
    TabSheet4 = new TAboutSheet;
    PageControl1->addTab(TabSheet1, IL16->Icon(Icons::YourIpTab), QStringLiteral("Your IP"));
    PageControl1->addTab(TabSheet2, IL16->Icon(Icons::ContactsTab), QStringLiteral("Contacts"));
    PageControl1->addTab(TabSheet3, IL16->Icon(Icons::OptionsTab), QStringLiteral("Options"));
    PageControl1->addTab(TabSheet4, QStringLiteral("About"));

    CreateYourIpPage();
    CreateContactsPage();
}

void TCorvaleFormMain::CreateYourIpPage() {
    ToolBar2 = NewToolBar(QStringLiteral("ToolBar2"), TabSheet1);
    AddToolButton(ToolBar2, "ToolButton8", actActive, design_.Y(27));
    AddToolSeparator(ToolBar2, "ToolButton5");
    AddToolButton(ToolBar2, "ToolButton4", actCheckNow, design_.Y(27));
    KeepEveryButtonInSight(ToolBar2);

    LV1 = NewReportList(
        QStringLiteral("LV1"),
        {QStringLiteral("No"), QStringLiteral("IP Address"), QStringLiteral("Date/Time")},
        DesignedListWidths().IP, design_, QAbstractItemView::ExtendedSelection, TabSheet1);
    SB1 = new TStatusPanelBar(QStringLiteral("SB1"), Scaled(kSB1Panels, design_), TabSheet1);

    auto* layout = new QVBoxLayout(TabSheet1);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ToolBar2);
    layout->addWidget(LV1, 1);
    layout->addWidget(SB1);
}

void TCorvaleFormMain::CreateContactsPage() {
    ToolBar1 = NewToolBar(QStringLiteral("ToolBar1"), TabSheet2);
    AddToolButton(ToolBar1, "ToolButton1", actGetBuddy, design_.Y(27));
    AddToolSeparator(ToolBar1, "ToolButton2");
    AddToolButton(ToolBar1, "ToolButton3", actInviteBuddy, design_.Y(27));
    AddToolButton(ToolBar1, "ToolButton6", actRemoveBuddy, design_.Y(27));
    AddToolSeparator(ToolBar1, "ToolButton7");
    KeepEveryButtonInSight(ToolBar1);

    LV2 = NewReportList(QStringLiteral("LV2"),
                        {QStringLiteral("No"), QStringLiteral("User ID"), QStringLiteral("Host"),
                         QStringLiteral("IP Address"), QStringLiteral("Date/Time")},
                        DesignedListWidths().Buddies, design_, QAbstractItemView::SingleSelection,
                        TabSheet2);
    SB2 = new TStatusPanelBar(QStringLiteral("SB2"), Scaled(kSB2Panels, design_), TabSheet2);

    auto* layout = new QVBoxLayout(TabSheet2);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ToolBar1);
    layout->addWidget(LV2, 1);
    layout->addWidget(SB2);
}

void TCorvaleFormMain::SizeToDesign() {
    // An explicit smallest size overrides the layout's: take the larger of the two, so that
    // shrinking the window never squeezes a text.
    const QSize needed = layout()->totalMinimumSize();
    const QSize smallest = design_.Size(372, 301).expandedTo(needed);
    setMinimumSize(smallest);
    resize(design_.Size(400, 301).expandedTo(smallest));
}
