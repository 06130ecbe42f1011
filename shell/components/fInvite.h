#pragma once
// The invite dialog: the user names another user by ID and ticks which of his own hosts that
// user may see. Showing it starts the host-list fetch, which fills its list; "Invite" checks
// the input and builds the host list that the invitation sends.

#include "core/WindowOps.h"

#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

// Starts the host-list fetch for a shown dialog. The program's starter is StartGetHostList.
using THostListFetchStarter = std::function<void(TInviteDialogLink dialog)>;
// Replaces the starter (tests); an empty one restores the program's.
void SetHostListFetchStarter(THostListFetchStarter starter);

class TFormInviteLink;

class TFormInvite : public QDialog {
    Q_OBJECT

public:
    // Its end arrives as QDialog::finished: Accepted after a successful "Invite", Rejected
    // after Cancel, Escape or the close box. It is never run in a loop of its own.
    explicit TFormInvite(QWidget* owner);
    // Releases a host-list fetch that waits for this dialog.
    ~TFormInvite() override;

    // What a successful "Invite" sends: the buddy's ID as typed, and the numbers of the ticked
    // rows in list order, joined by ",".
    QString BuddyID() const;
    const std::string& InvitedHostIDs() const;

    // The host-list fetch (window thread): while it fills LV, "Invite" refuses; the fetch sets
    // and clears the flag.
    void SetGettingHostList(bool value);
    bool IsGettingHostList() const;
    // The host list as the fetch fills it: a bulk update that deletes the rows, rows with a
    // clear tick box that keep the host's number, and the end of the update.
    void BeginHostList();
    void AppendHostRow(const QString& caption, std::int32_t number);
    void EndHostList();
    std::int32_t HostNumber(int row) const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    void SetTabOrder();
    void NameControlsForAssistiveTechnology();
    void CollectTickedHosts();

    void FormCreate();
    void FormShow();
    void Button1Click();
    void Button2Click();

    // Controls (object names "Edit1", "Button1", ...).
    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QLabel* Image1 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QTableWidget* LV = nullptr;

    bool GettingHostList = false;
    std::string HostIDs; // the result, once "Invite" has accepted

    bool hostListFetchStarted_ = false;
    std::shared_ptr<TFormInviteLink> hostListLink_; // the fetch's way to this dialog
};
