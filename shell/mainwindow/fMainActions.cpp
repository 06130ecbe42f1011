// The main window's commands: the action list with its execute and update handlers, the
// popup menus, and the other event handlers.

#include "core/uCfg.h"
#include "core/uEndpoint.h"
#include "core/uTasks.h"
#include "shell/components/DesktopNotifier.h"
#include "shell/components/Icons.h"
#include "shell/components/ImageList.h"
#include "shell/components/MessageBox.h"
#include "shell/components/PopupMenu.h"
#include "shell/components/fInvite.h"
#include "shell/components/uPortlynx.h"
#include "shell/mainwindow/AboutSheet.h"
#include "shell/mainwindow/ActionList.h"
#include "shell/mainwindow/MenuItem.h"
#include "shell/mainwindow/OptionsSheet.h"
#include "shell/mainwindow/StatusPanels.h"
#include "shell/mainwindow/fMain.h"

#include <QAction>
#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>

namespace {

// The maker's contact address behind the About page's e-mail link.
const QString kContactAddress = QStringLiteral("support@corvale.example");

// Pages of PageControl1.
constexpr int kYourIpPage = 0;
constexpr int kOptionsPage = 2;
constexpr int kAboutPage = 3;

// Columns of the lists.
constexpr int kHistoryAddressColumn = 1; // LV1 "IP Address" (sub-item 0)
constexpr int kBuddyUserIdColumn = 1;    // LV2 "User ID" (sub-item 0)
constexpr int kBuddyAddressColumn = 3;   // LV2 "IP Address" (sub-item 2)

// The first selected row of a list in the list's order; -1 when none is selected.
int FirstSelectedRow(const QTableWidget* list) {
    int first = -1;
    for (const QModelIndex& index : list->selectionModel()->selectedRows()) {
        if (first < 0 || index.row() < first) {
            first = index.row();
        }
    }
    return first;
}

QString CellText(const QTableWidget* list, int row, int column) {
    const QTableWidgetItem* item = list->item(row, column);
    return item ? item->text() : QString();
}

} // namespace

void TCorvaleFormMain::CreateComponents() {
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    notifier_ = new TDesktopNotifier(this);
    StartNetworkWatch();
    IL16 = new TImageList(this);
    IL16->setObjectName(QStringLiteral("IL16"));
    Icons::FillIL16(*IL16);
    ActionList1 = new TActionList(this, IL16);
    ActionList1->setObjectName(QStringLiteral("ActionList1"));
    CreateActions();

    PopupLV1 = new TPopupMenu(this);
    PopupLV1->setObjectName(QStringLiteral("PopupLV1"));
    AddMenuItem(PopupLV1, "CopyIP1", actCopySelIP);
    ActionList1->WatchMenu(PopupLV1);
    PopupLV2 = new TPopupMenu(this);
    PopupLV2->setObjectName(QStringLiteral("PopupLV2"));
    AddMenuItem(PopupLV2, "CopyBuddyIP1", actCopyBuddyIP);
    ActionList1->WatchMenu(PopupLV2);

    PopupTray = new TPopupMenu(this);
    PopupTray->setObjectName(QStringLiteral("PopupTray"));
    // The tray menu opening runs PopupTrayPopup first, then the update rules.
    connect(PopupTray, &QMenu::aboutToShow, this,
            [this] { RunHandler([this] { PopupTrayPopup(); }); });
    QAction* open = AddMenuItem(PopupTray, "Open1", actOpenClose);
    AddMenuItem(PopupTray, "Active1", actActive);
    Portlynx1 = AddMenuItem(PopupTray, "Portlynx1", actPortlynx);
    AddMenuSeparator(PopupTray, "N2");
    AddMenuItem(PopupTray, "CopyIP2", actCopyIP);
    AddMenuSeparator(PopupTray, "N3");
    AddMenuItem(PopupTray, "CorvaleWebSite1", actHomePage);
    AddMenuItem(PopupTray, "Checkforupdates1", actCheckUpdates);
    AddMenuItem(PopupTray, "About1", actAbout);
    AddMenuSeparator(PopupTray, "N1");
    AddMenuItem(PopupTray, "Exit1", actExit);
    PopupTray->setDefaultAction(open);
    ActionList1->WatchMenu(PopupTray);
}

void TCorvaleFormMain::CreateActions() {
    TActionList& list = *ActionList1;
    auto run = [this](void (TCorvaleFormMain::*handler)()) {
        return [this, handler] { (this->*handler)(); };
    };
    actActive =
        list.Add({"_Active", "Account", QStringLiteral("Active"), QStringLiteral("Active"),
                  Icons::Active, true},
                 run(&TCorvaleFormMain::actActiveExecute), run(&TCorvaleFormMain::actActiveUpdate));
    actExit = list.Add({"_Exit", "General", QStringLiteral("&Exit"), QStringLiteral("Exit")},
                       run(&TCorvaleFormMain::actExitExecute));
    actOpenClose = list.Add(
        {"_OpenClose", "General", QStringLiteral("&Open"), QStringLiteral("Open")},
        run(&TCorvaleFormMain::actOpenCloseExecute), run(&TCorvaleFormMain::actOpenCloseUpdate));
    actCreateID = list.Add({"_CreateID", "Account", QStringLiteral("Create ID"), QString()},
                           run(&TCorvaleFormMain::actCreateIDExecute));
    actCancel = list.Add({"_Cancel", "Options", QStringLiteral("Cancel"), QString()},
                         run(&TCorvaleFormMain::actCancelExecute));
    actSave = list.Add({"_Save", "Options", QStringLiteral("Save"), QString()},
                       run(&TCorvaleFormMain::actSaveExecute));
    actCheckNow = list.Add({"_CheckNow", "Account", QStringLiteral("Check Now"),
                            QStringLiteral("Check Now"), Icons::CheckNow},
                           run(&TCorvaleFormMain::actCheckNowExecute));
    actGetBuddy = list.Add({"_GetBuddy", "Buddy", QStringLiteral("Get Buddy List"),
                            QStringLiteral("Get Buddy List"), Icons::GetBuddy},
                           run(&TCorvaleFormMain::actGetBuddyExecute));
    actInviteBuddy = list.Add({"_InviteBuddy", "Buddy", QStringLiteral("Invite"),
                               QStringLiteral("Invite Buddy"), Icons::InviteBuddy},
                              run(&TCorvaleFormMain::actInviteBuddyExecute));
    actRemoveBuddy = list.Add({"_RemoveBuddy", "Buddy", QStringLiteral("Remove"),
                               QStringLiteral("Remove Buddy"), Icons::RemoveBuddy},
                              run(&TCorvaleFormMain::actRemoveBuddyExecute));
    actCopyIP =
        list.Add({"_CopyIP", "General", QStringLiteral("Copy IP"), QStringLiteral("Copy IP")},
                 run(&TCorvaleFormMain::actCopyIPExecute));
    actCopyBuddyIP = list.Add({"_CopyBuddyIP", "Buddy", QStringLiteral("Copy Buddy's IP"),
                               QStringLiteral("Copy Buddy's IP")},
                              run(&TCorvaleFormMain::actCopyBuddyIPExecute),
                              run(&TCorvaleFormMain::actCopyBuddyIPUpdate));
    actCopySelIP = list.Add(
        {"_CopySelIP", "Account", QStringLiteral("Copy IP"), QStringLiteral("Copy Selected IP")},
        run(&TCorvaleFormMain::actCopySelIPExecute), run(&TCorvaleFormMain::actCopySelIPUpdate));
    actHomePage = list.Add({"_HomePage", "General", QStringLiteral("Home Page..."),
                            QStringLiteral("Corvale Home Page")},
                           run(&TCorvaleFormMain::actHomePageExecute));
    actAbout = list.Add({"_About", "General", QStringLiteral("&About..."), QStringLiteral("About")},
                        run(&TCorvaleFormMain::actAboutExecute));
    actPortlynx = list.Add(
        {"_Portlynx", "Portlynx", QStringLiteral("Portlynx"), QStringLiteral("Portlynx"), -1, true},
        run(&TCorvaleFormMain::actPortlynxExecute), run(&TCorvaleFormMain::actPortlynxUpdate));
    actCheckUpdates = list.Add({"_CheckUpdates", "General", QStringLiteral("Check for updates..."),
                                QStringLiteral("Check for updates")},
                               run(&TCorvaleFormMain::actCheckUpdatesExecute));
    actLogin = list.Add({"_Login", "Account", QStringLiteral("Login"), QStringLiteral("Login")},
                        run(&TCorvaleFormMain::actLoginExecute));
}

void TCorvaleFormMain::actActiveExecute() {
    // The checked state has flipped already.
    if (actActive->isChecked()) {
        StartGetIP();
        Timer1->start();
    } else {
        Timer1->stop();
        triggerRule_.Drop();
        triggerTimer_->stop();
    }
    ActiveFlag = actActive->isChecked();
}

void TCorvaleFormMain::actActiveUpdate() {
    SB1->SetPanelText(4, actActive->isChecked() ? QStringLiteral("Active")
                                                : QStringLiteral("Inactive"));
}

void TCorvaleFormMain::actExitExecute() {
    Terminate();
}

// "Visible" for the open/close command. With a notification area a minimised window still
// counts, and hiding takes it to the tray; without one, hiding only minimises, so there a
// minimised window counts as hidden and the command brings it back.
bool TCorvaleFormMain::IsVisibleForOpenClose() const {
    return TrayAvailable() ? isVisible() : IsOpen();
}

void TCorvaleFormMain::actOpenCloseExecute() {
    if (IsVisibleForOpenClose()) {
        HideWindow();
    } else {
        ShowAndActivate();
    }
}

void TCorvaleFormMain::actOpenCloseUpdate() {
    const QString text = IsVisibleForOpenClose() ? QStringLiteral("Hide") : QStringLiteral("Open");
    actOpenClose->setText(text);
    actOpenClose->setToolTip(text);
    actOpenClose->setStatusTip(text);
}

void TCorvaleFormMain::actCreateIDExecute() {
    OpenWebPage(QString::fromStdString(WebPageUrl(kSignupPagePath)));
}

void TCorvaleFormMain::actCancelExecute() {
    ShowOptions();
    SelectPage(kYourIpPage);
}

void TCorvaleFormMain::actSaveExecute() {
    try {
        ApplyOptions();
    } catch (const EServiceFormError& error) {
        // Nothing was stored: the user corrects the field where it is.
        ShowApplicationErrorAsync(QString::fromUtf8(error.what()));
        TabSheet3->PointAtService();
        return;
    }
    LV1->setUpdatesEnabled(false);
    LV1->setRowCount(0);
    LV1->setUpdatesEnabled(true);
    // The next check then counts the current address as new and reports it under the
    // account just stored.
    Vars.IP = std::string();
    StartGetIP();
    SelectPage(kYourIpPage);
}

void TCorvaleFormMain::actCheckNowExecute() {
    StartGetIP();
}

void TCorvaleFormMain::actGetBuddyExecute() {
    StartGetBuddies();
}

// The dialog is modal but shown without a nested event loop: its end arrives as a signal.
void TCorvaleFormMain::actInviteBuddyExecute() {
    auto* dialog = new TFormInvite(this);
    dialog->setWindowModality(Qt::ApplicationModal);
    connect(dialog, &QDialog::finished, this, [dialog](int result) {
        dialog->hide();
        if (result == QDialog::Accepted) {
            RunHandler([dialog] {
                StartInvite(dialog->BuddyID().toStdString(), dialog->InvitedHostIDs());
            });
        }
        dialog->deleteLater();
    });
    dialog->show();
}

void TCorvaleFormMain::actRemoveBuddyExecute() {
    const int row = FirstSelectedRow(LV2);
    if (row < 0) {
        return;
    }
    const QString userId = CellText(LV2, row, kBuddyUserIdColumn);
    const QString question =
        QStringLiteral("Are you sure you want to exclude \"%1\" from your buddy list ?")
            .arg(userId);
    // The user may change the selection while the question is open: the answer applies to
    // the row selected then, and to nothing when none is.
    ShowMessageBoxAsync(
        {question, QStringLiteral("Exclude buddy"), TMsgIcon::None, TMsgButtons::YesNo},
        [list = QPointer<QTableWidget>(LV2)](TMsgAnswer answer) {
            if (answer != TMsgAnswer::Yes || !list) {
                return;
            }
            const int selected = FirstSelectedRow(list);
            if (selected >= 0) {
                StartExclude(CellText(list, selected, kBuddyUserIdColumn).toStdString());
            }
        });
}

void TCorvaleFormMain::actCopyIPExecute() {
    QGuiApplication::clipboard()->setText(QString::fromStdString(Vars.IP.Load()));
}

void TCorvaleFormMain::actCopyBuddyIPExecute() {
    const int row = FirstSelectedRow(LV2);
    if (row >= 0) {
        QGuiApplication::clipboard()->setText(CellText(LV2, row, kBuddyAddressColumn));
    }
}

void TCorvaleFormMain::actCopyBuddyIPUpdate() {
    actCopyBuddyIP->setEnabled(FirstSelectedRow(LV2) >= 0);
}

void TCorvaleFormMain::actCopySelIPExecute() {
    const int row = FirstSelectedRow(LV1);
    if (row >= 0) {
        QGuiApplication::clipboard()->setText(CellText(LV1, row, kHistoryAddressColumn));
    }
}

void TCorvaleFormMain::actCopySelIPUpdate() {
    actCopySelIP->setEnabled(FirstSelectedRow(LV1) >= 0);
}

void TCorvaleFormMain::actHomePageExecute() {
    OpenWebPage(QString::fromStdString(WebPageUrl(kHomePagePath)));
}

void TCorvaleFormMain::actAboutExecute() {
    SelectPage(kAboutPage);
    ShowAbout();
    ShowAndActivate();
}

void TCorvaleFormMain::actPortlynxExecute() {
    if (IsCompanionLoaded()) {
        UnloadCompanion();
    } else {
        LoadCompanion(this);
    }
    actPortlynxUpdate(); // the toggle of the checkable action is not the module's state
}

void TCorvaleFormMain::actPortlynxUpdate() {
    actPortlynx->setChecked(IsCompanionLoaded());
}

void TCorvaleFormMain::actCheckUpdatesExecute() {
    StartClver();
}

void TCorvaleFormMain::actLoginExecute() {
    actSave->trigger();
}

void TCorvaleFormMain::Timer1Timer() {
    StartGetIP();
}

void TCorvaleFormMain::PageControl1Change(int index) {
    if (index == kOptionsPage) {
        ShowOptions();
    } else if (index == kAboutPage) {
        ShowAbout();
    }
}

void TCorvaleFormMain::Button1Click() {
    SelectPage(kYourIpPage);
}

void TCorvaleFormMain::Lbl_webClick() {
    OpenWebPage(QString::fromStdString(WebPageUrl(kHomePagePath)));
}

void TCorvaleFormMain::Lbl_mailClick() {
    OpenWebPage(QStringLiteral("mailto:") + kContactAddress);
}

void TCorvaleFormMain::OpenWebPage(const QString& address) {
    QDesktopServices::openUrl(QUrl(address)); // a failure is not reported
}

void TCorvaleFormMain::ShowAbout() {
    TabSheet4->Show(Cfg.Product, QString::fromStdString(WebPageUrl(kHomePagePath)),
                    kContactAddress);
}

void TCorvaleFormMain::SelectPage(int index) {
    const QSignalBlocker quiet(PageControl1);
    PageControl1->setCurrentIndex(index);
}
