#include "shell/components/fInvite.h"

#include "core/uTasks.h"
#include "shell/components/InviteDialogLink.h"
#include "shell/components/MessageBox.h"

#include <QLineEdit>
#include <QShowEvent>
#include <QTableWidget>
#include <memory>

namespace {

THostListFetchStarter& HostListFetchStarter() {
    static THostListFetchStarter starter;
    return starter;
}

void StartHostListFetch(TInviteDialogLink dialog) {
    if (HostListFetchStarter()) {
        HostListFetchStarter()(std::move(dialog));
    } else {
        StartGetHostList(std::move(dialog));
    }
}

constexpr int kNumberRole = Qt::UserRole;

} // namespace

void SetHostListFetchStarter(THostListFetchStarter starter) {
    HostListFetchStarter() = std::move(starter);
}

TFormInvite::TFormInvite(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("FormInvite"));
    CreateControls();
    SetTabOrder();
    NameControlsForAssistiveTechnology();
    FormCreate();
}

TFormInvite::~TFormInvite() {
    if (hostListLink_) {
        hostListLink_->Close();
    }
}

QString TFormInvite::BuddyID() const {
    return Edit1->text();
}

const std::string& TFormInvite::InvitedHostIDs() const {
    return HostIDs;
}

void TFormInvite::SetGettingHostList(bool value) {
    GettingHostList = value;
}

bool TFormInvite::IsGettingHostList() const {
    return GettingHostList;
}

void TFormInvite::FormCreate() {
    GettingHostList = false;
    HostIDs.clear();
}

void TFormInvite::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

// The dialog is shown once in its life, so there is one fetch per invitation; showing it
// again (after the window system hid it) must not start a second one.
void TFormInvite::FormShow() {
    if (hostListFetchStarted_) {
        return;
    }
    hostListFetchStarted_ = true;
    hostListLink_ = std::make_shared<TFormInviteLink>(this);
    StartHostListFetch(hostListLink_);
}

void TFormInvite::Button1Click() {
    if (GettingHostList) {
        ShowPlainMessage(QStringLiteral("Getting host list in progress !"));
        return;
    }
    if (LV->rowCount() == 0) {
        ShowPlainMessage(QStringLiteral("You have no one host computer to offer !"));
        return;
    }
    if (Edit1->text().isEmpty()) {
        ShowPlainMessage(QStringLiteral("You must specify the buddy's ID !"));
        return;
    }
    CollectTickedHosts();
    if (HostIDs.empty()) {
        ShowPlainMessage(
            QStringLiteral("You have not specify any host computer to offer to your buddy !"));
        return;
    }
    HostIDs.pop_back(); // the final ","
    accept();
}

void TFormInvite::CollectTickedHosts() {
    HostIDs.clear();
    for (int row = 0; row < LV->rowCount(); ++row) {
        if (LV->item(row, 0)->checkState() == Qt::Checked) {
            HostIDs += std::to_string(HostNumber(row)) + ",";
        }
    }
}

void TFormInvite::Button2Click() {
    reject();
}

void TFormInvite::BeginHostList() {
    LV->setUpdatesEnabled(false);
    LV->setRowCount(0);
}

void TFormInvite::AppendHostRow(const QString& caption, std::int32_t number) {
    auto* item = new QTableWidgetItem(caption);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    item->setData(kNumberRole, number);
    const int row = LV->rowCount();
    LV->insertRow(row);
    LV->setItem(row, 0, item);
}

void TFormInvite::EndHostList() {
    LV->setUpdatesEnabled(true);
}

std::int32_t TFormInvite::HostNumber(int row) const {
    return LV->item(row, 0)->data(kNumberRole).toInt();
}
