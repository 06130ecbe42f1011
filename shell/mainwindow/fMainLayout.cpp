// The main window's pages and controls, as the user sees them at start.

#include "core/uDateTime.h"
#include "settings/uWidthList.h"
#include "shell/components/Icons.h"
#include "shell/components/ImageList.h"
#include "shell/mainwindow/ActionButton.h"
#include "shell/mainwindow/ActionList.h"
#include "shell/mainwindow/LinkLabel.h"
#include "shell/mainwindow/StatusPanels.h"
#include "shell/mainwindow/fMain.h"

#include <QAction>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <vector>

namespace {

// A report-style list: grid lines, whole-row selection, read-only, a context menu; its
// columns take the designed widths (the settings keep them, as they keep the stored ones).
QTableWidget* NewReportList(const QString& name, const std::vector<QString>& titles,
                            const TColumnWidths& widths, QAbstractItemView::SelectionMode selection,
                            QWidget* parent) {
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
            list->setColumnWidth(static_cast<int>(i), widths[i]);
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

QLabel* NewLabel(const char* name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    return label;
}

QPushButton* NewButton(const char* name, const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

QCheckBox* NewCheckBox(const char* name, const QString& text, const QString& hint,
                       QWidget* parent) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setToolTip(hint);
    return box;
}

QLineEdit* NewEdit(const char* name, const QString& hint, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setToolTip(hint);
    return edit;
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

// The longest date and time the last-check panel shows, in the process's time format.
QString WidestCheckTime() {
    const auto sample = TryEncodeDateTime({2026, 5, 28, 22, 58, 58, 0});
    return sample ? QString::fromLocal8Bit(FormatDisplayDateTime(*sample)) : QString();
}

// The status panels are the window's only texts in fixed widths: the window grows with what
// they need, their design texts and what the program writes into them.
TDesignScale MainWindowDesignScale(const QFontMetrics& metrics) {
    const auto room = [](const std::vector<TStatusPanelDef>& panels, std::size_t index) {
        return panels[index].Width - kPanelFrame;
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
                                 });
}

std::vector<TStatusPanelDef> Scaled(std::vector<TStatusPanelDef> panels,
                                    const TDesignScale& scale) {
    for (TStatusPanelDef& panel : panels) {
        panel.Width = scale.X(panel.Width);
    }
    return panels;
}

// The key presses `button` while the focus is anywhere on `page`.
void PressOnKey(QWidget* page, QKeySequence key, QPushButton* button) {
    auto* shortcut = new QShortcut(key, page);
    shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    QObject::connect(shortcut, &QShortcut::activated, button, &QPushButton::click);
}

} // namespace

void TCorvaleFormMain::CreatePages() {
    // The font in use (the desktop's), not the designed one: the geometry follows it.
    design_ = MainWindowDesignScale(fontMetrics());
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
    TabSheet3 = NewPage("TabSheet3");
    TabSheet4 = NewPage("TabSheet4");
    PageControl1->addTab(TabSheet1, IL16->Icon(Icons::YourIpTab), QStringLiteral("Your IP"));
    PageControl1->addTab(TabSheet2, IL16->Icon(Icons::ContactsTab), QStringLiteral("Contacts"));
    PageControl1->addTab(TabSheet3, IL16->Icon(Icons::OptionsTab), QStringLiteral("Options"));
    PageControl1->addTab(TabSheet4, QStringLiteral("About"));

    CreateYourIpPage();
    CreateContactsPage();
    CreateOptionsPage();
    CreateAboutPage();
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
        DesignedListWidths().IP, QAbstractItemView::ExtendedSelection, TabSheet1);
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

    LV2 =
        NewReportList(QStringLiteral("LV2"),
                      {QStringLiteral("No"), QStringLiteral("User ID"), QStringLiteral("Host"),
                       QStringLiteral("IP Address"), QStringLiteral("Date/Time")},
                      DesignedListWidths().Buddies, QAbstractItemView::SingleSelection, TabSheet2);
    SB2 = new TStatusPanelBar(QStringLiteral("SB2"), Scaled(kSB2Panels, design_), TabSheet2);

    auto* layout = new QVBoxLayout(TabSheet2);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ToolBar1);
    layout->addWidget(LV2, 1);
    layout->addWidget(SB2);
}

void TCorvaleFormMain::CreateOptionsPage() {
    GroupBox1 = new QGroupBox(QStringLiteral(" Corvale ID "), TabSheet3);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    Lbl_details =
        NewLabel("Lbl_details", QStringLiteral("Don't have an ID ?\nCreate here:"), GroupBox1);
    Lbl_details->setFont(QFont(QStringLiteral("Arial"), font().pointSize()));
    QPalette navy = Lbl_details->palette();
    navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
    Lbl_details->setPalette(navy);
    Button3 = NewButton("Button3", QString(), GroupBox1);
    BindButtonToAction(Button3, actCreateID);

    GroupBox3 = new QGroupBox(QStringLiteral(" Login "), GroupBox1);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    EdtID =
        NewEdit("EdtID", QStringLiteral("Your ID used to update your IP on the server"), GroupBox3);
    EdtPswd = NewEdit(
        "EdtPswd", QStringLiteral("The password used to update your ip on the server"), GroupBox3);
    EdtPswd->setEchoMode(QLineEdit::Password);
    Button4 = NewButton("Button4", QString(), GroupBox3);
    BindButtonToAction(Button4, actLogin);
    auto* login = new QGridLayout(GroupBox3);
    login->setVerticalSpacing(3);
    login->addWidget(NewLabel("Label1", QStringLiteral("ID:"), GroupBox3), 0, 0);
    login->addWidget(EdtID, 0, 1);
    login->addWidget(NewLabel("Label3", QStringLiteral("Password:"), GroupBox3), 1, 0);
    login->addWidget(EdtPswd, 1, 1);
    login->addWidget(Button4, 2, 1, Qt::AlignRight);

    auto* invitation = new QVBoxLayout;
    invitation->addWidget(Lbl_details);
    invitation->addWidget(Button3);
    invitation->addStretch(1);
    auto* account = new QHBoxLayout(GroupBox1);
    account->addLayout(invitation);
    account->addWidget(GroupBox3, 1);

    GroupBox2 = new QGroupBox(TabSheet3);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    EdtCkInterval =
        NewEdit("EdtCkInterval",
                QStringLiteral("The interval (in seconds) for checking IP changes"), GroupBox2);
    EdtCkInterval->setMaximumWidth(design_.X(70));
    CkStartup =
        NewCheckBox("CkStartup", QStringLiteral("Start when Windows starts"), QString(), GroupBox2);
    CkStartMinimized = NewCheckBox("CkStartMinimized", QStringLiteral("Start minimized"),
                                   QStringLiteral("Start minimized"), GroupBox2);
    Ck_MinToTray = NewCheckBox("Ck_MinToTray", QStringLiteral("Minimize to tray on window close"),
                               QStringLiteral("Minimize to tray"), GroupBox2);
    Ck_StayOnTop = NewCheckBox("Ck_StayOnTop", QStringLiteral("Stay on top"),
                               QStringLiteral("Stay on top"), GroupBox2);
    auto* interval = new QHBoxLayout;
    interval->addWidget(NewLabel("Label2", QStringLiteral("Check interval:"), GroupBox2));
    interval->addWidget(EdtCkInterval);
    interval->addWidget(NewLabel("Label4", QStringLiteral("seconds"), GroupBox2));
    interval->addStretch(1);
    auto* behaviour = new QGridLayout(GroupBox2);
    behaviour->setVerticalSpacing(2);
    behaviour->addLayout(interval, 0, 0, 1, 2);
    behaviour->addWidget(CkStartup, 1, 0);
    behaviour->addWidget(CkStartMinimized, 1, 1);
    behaviour->addWidget(Ck_MinToTray, 2, 0);
    behaviour->addWidget(Ck_StayOnTop, 2, 1);
    behaviour->setColumnStretch(1, 1);

    Button5 = NewButton("Button5", QString(), TabSheet3);
    BindButtonToAction(Button5, actSave);
    Button6 = NewButton("Button6", QString(), TabSheet3);
    BindButtonToAction(Button6, actCancel);
    PressOnKey(TabSheet3, QKeySequence(Qt::Key_Escape), Button6);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button5);
    buttons->addWidget(Button6);
    auto* layout = new QVBoxLayout(TabSheet3);
    layout->setContentsMargins(6, 4, 6, 6);
    layout->setSpacing(4);
    layout->addWidget(GroupBox1);
    layout->addWidget(GroupBox2);
    layout->addStretch(1);
    layout->addLayout(buttons);
}

void TCorvaleFormMain::CreateAboutPage() {
    auto* panel = new QFrame(TabSheet4);
    panel->setObjectName(QStringLiteral("Panel2"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Image1 = NewLabel("Image1", QString(), panel);
    Image1->setPixmap(Icons::About().pixmap(48, 48));
    Image1->setFixedSize(48, 48);
    Lbl_name = NewLabel("Lbl_name", QString(), panel);
    QFont large(QStringLiteral("Arial Black"), 14);
    large.setWeight(QFont::Black);
    Lbl_name->setFont(large);
    Lbl_version = NewLabel("Lbl_version", QString(), panel);
    Lbl_release = NewLabel("Lbl_release", QString(), panel);
    Label7 = NewLabel("Label7", QStringLiteral("Keeps the address of this computer known"), panel);
    Label8 = NewLabel("Label8", QStringLiteral("to you and to the buddies you choose."), panel);
    Lbl_web = new TLinkLabel(QStringLiteral("Lbl_web"), panel);
    Lbl_mail = new TLinkLabel(QStringLiteral("Lbl_mail"), panel);

    auto* links = new QGridLayout;
    links->addWidget(NewLabel("Label10", QStringLiteral("Web:"), panel), 0, 0);
    links->addWidget(Lbl_web, 0, 1, Qt::AlignLeft);
    links->addWidget(NewLabel("Label12", QStringLiteral("E-mail:"), panel), 1, 0);
    links->addWidget(Lbl_mail, 1, 1, Qt::AlignLeft);
    links->setColumnStretch(1, 1);

    auto* texts = new QVBoxLayout;
    texts->addWidget(Lbl_name);
    texts->addWidget(Lbl_version);
    texts->addWidget(Lbl_release);
    texts->addSpacing(6);
    texts->addWidget(Label7);
    texts->addWidget(Label8);
    texts->addSpacing(6);
    texts->addLayout(links);
    texts->addStretch(1);
    auto* content = new QHBoxLayout(panel);
    content->addWidget(Image1, 0, Qt::AlignTop);
    content->addSpacing(8);
    content->addLayout(texts, 1);

    Button2 = NewButton("Button2", QString(), TabSheet4);
    BindButtonToAction(Button2, actCheckUpdates);
    Button1 = NewButton("Button1", QStringLiteral("Ok"), TabSheet4);
    PressOnKey(TabSheet4, QKeySequence(Qt::Key_Escape), Button1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Button2);
    buttons->addStretch(1);
    buttons->addWidget(Button1);
    auto* layout = new QVBoxLayout(TabSheet4);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(panel, 1);
    layout->addLayout(buttons);
}

void TCorvaleFormMain::SizeToDesign() {
    // An explicit smallest size overrides the layout's: take the larger of the two, so that
    // shrinking the window never squeezes a text.
    const QSize needed = layout()->totalMinimumSize();
    const QSize smallest = design_.Size(372, 301).expandedTo(needed);
    setMinimumSize(smallest);
    resize(design_.Size(400, 301).expandedTo(smallest));
}
