#pragma once
// The invite dialog as the host-list task sees it. The task calls from its own thread; every
// change is carried to the window thread and the task goes on once it is made. When the
// dialog is gone (the user closed it and it was freed), every call does nothing.

#include "core/WindowOps.h"

#include <QPointer>
#include <functional>

class TFormInvite;

class TFormInviteLink final : public IInviteDialogLink {
public:
    // Made on the window thread, where the dialog lives.
    explicit TFormInviteLink(TFormInvite* dialog);

    void SetGettingHostList(bool value) override;
    void BeginHostList() override;
    void AppendHostRow(const std::string& caption, std::int32_t number) override;
    void EndHostList() override;

private:
    void OnWindowThread(const std::function<void(TFormInvite&)>& change);

    // Read only on the window thread, where the dialog is freed.
    QPointer<TFormInvite> dialog_;
};
