#pragma once
// The only way the service client changes the main window. The desktop shell implements it
// and carries every call to the window thread, returning once the change is made, so each
// task's changes arrive in order. Tests install a recording fake.
//
// An operation is written in four places: here (with its do-nothing form in TNoWindow), in
// the shell's bridge (shell/mainwindow/fMainWindowOps.cpp, with the form's method of the
// same name), in the form's list of those methods (fMain.h), and in tests/core/FakeWindow.h.

#include <cstdint>
#include <memory>
#include <string>

enum class TStatusBar { SB1, SB2 };

enum class TMsgButtons { OK, YesNo };
enum class TMsgAnswer { OK, Yes, No };

// The answer of a box that nobody answered (no window, or the window went): OK, or No for a
// question, so that a task never goes ahead with what it asked about.
inline TMsgAnswer DismissedAnswer(TMsgButtons buttons) {
    return buttons == TMsgButtons::YesNo ? TMsgAnswer::No : TMsgAnswer::OK;
}

// What the host-list task may do with the invite dialog it was given. Once that dialog is
// gone, every operation does nothing.
class IInviteDialogLink {
public:
    virtual ~IInviteDialogLink() = default;
    virtual void SetGettingHostList(bool value) = 0;
    // Begins the bulk update of the host list and deletes its rows.
    virtual void BeginHostList() = 0;
    // Appends a ticked-off row: caption = host name, associated number = host number.
    virtual void AppendHostRow(const std::string& caption, std::int32_t number) = 0;
    virtual void EndHostList() = 0;
};
using TInviteDialogLink = std::shared_ptr<IInviteDialogLink>;

class IWindowOps {
public:
    virtual ~IWindowOps() = default;

    // Timer1: stopped while an address check runs; afterwards it follows _Active.
    virtual void StopTimer() = 0;
    // Sets Timer1's enabled state to the checked state of _Active, in one step on the window
    // thread; enabling restarts its interval.
    virtual void RestartTimerIfActive() = 0;
    // The checked state of the _Active action.
    virtual bool IsActiveChecked() = 0;

    // Appends a row to the address history LV1; its "No" is its position counted from 1.
    virtual void AppendHistoryRow(const std::string& address, const std::string& dateTime) = 0;
    virtual void SetStatusText(TStatusBar bar, int panel, const std::string& text) = 0;
    virtual void SetTrayHint(const std::string& hint) = 0;
    virtual void SetCaption(const std::string& caption) = 0;

    // The buddy list LV2: a bulk update that deletes the rows, appends rows (numbered on from
    // the current count), and ends.
    virtual void BeginBuddyList() = 0;
    virtual void AppendBuddyRow(const std::string& userId, const std::string& host,
                                const std::string& address, const std::string& dateTime) = 0;
    virtual void EndBuddyList() = 0;
    virtual int BuddyRowCount() = 0;

    // An owner-less box without icon that blocks only the calling task until answered.
    virtual TMsgAnswer ShowMessage(const std::string& text, const std::string& caption,
                                   TMsgButtons buttons) = 0;
    virtual void OpenUrl(const std::string& url) = 0;
    // Posts WM_QUIT_FOR_UPDATE to the main window.
    virtual void PostQuitForUpdate() = 0;
};

// Stands in before the main window exists and after it is gone: a task that outlives the
// window must neither crash nor block. It sits beside the interface so that a new operation
// gets its do-nothing form in the same place.
class TNoWindow final : public IWindowOps {
public:
    void StopTimer() override {}
    void RestartTimerIfActive() override {}
    bool IsActiveChecked() override { return false; }
    void AppendHistoryRow(const std::string&, const std::string&) override {}
    void SetStatusText(TStatusBar, int, const std::string&) override {}
    void SetTrayHint(const std::string&) override {}
    void SetCaption(const std::string&) override {}
    void BeginBuddyList() override {}
    void AppendBuddyRow(const std::string&, const std::string&, const std::string&,
                        const std::string&) override {}
    void EndBuddyList() override {}
    int BuddyRowCount() override { return 0; }
    TMsgAnswer ShowMessage(const std::string&, const std::string&, TMsgButtons buttons) override {
        return DismissedAnswer(buttons);
    }
    void OpenUrl(const std::string&) override {}
    void PostQuitForUpdate() override {}
};

// The window the tasks talk to: installed by the main window when it is created (and by
// tests). Returns a TNoWindow while none is installed.
IWindowOps& WindowOps();
void SetWindowOps(IWindowOps* ops);

// The error box of a task: the service's message under the caption "Error", with OK.
void ShowError(const std::string& message);
