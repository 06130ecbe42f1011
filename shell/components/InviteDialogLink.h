#pragma once
// The invite dialog as the host-list task sees it. The task calls from its own thread; every
// change is carried to the window thread through the gate and the task goes on once it is
// made. When the dialog goes it closes the link: a task waiting then returns at once, and
// every later call does nothing.

#include "core/WindowOps.h"
#include "shell/components/WindowThreadGate.h"

#include <functional>

class TFormInvite;

class TFormInviteLink final : public IInviteDialogLink {
public:
    // Made on the window thread, where the dialog lives.
    explicit TFormInviteLink(TFormInvite* dialog);

    // Window thread, before the dialog is destroyed.
    void Close();

    void SetGettingHostList(bool value) override;
    void BeginHostList() override;
    void AppendHostRow(const std::string& caption, std::int32_t number) override;
    void EndHostList() override;

private:
    void OnWindowThread(std::function<void(TFormInvite&)> change);

    TWindowThreadGate gate_;
    // Used on the window thread only, and only while the gate is open.
    TFormInvite* dialog_;
};
