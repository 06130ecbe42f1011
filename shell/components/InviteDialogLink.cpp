#include "shell/components/InviteDialogLink.h"

#include "shell/components/fInvite.h"

TFormInviteLink::TFormInviteLink(TFormInvite* dialog) : dialog_(dialog) {
    gate_.Open(dialog);
}

void TFormInviteLink::Close() {
    gate_.Close();
}

void TFormInviteLink::SetGettingHostList(bool value) {
    OnWindowThread([value](TFormInvite& dialog) { dialog.SetGettingHostList(value); });
}

void TFormInviteLink::BeginHostList() {
    OnWindowThread([](TFormInvite& dialog) { dialog.BeginHostList(); });
}

void TFormInviteLink::AppendHostRow(const std::string& caption, std::int32_t number) {
    OnWindowThread([text = QString::fromStdString(caption), number](TFormInvite& dialog) {
        dialog.AppendHostRow(text, number);
    });
}

void TFormInviteLink::EndHostList() {
    OnWindowThread([](TFormInvite& dialog) { dialog.EndHostList(); });
}

void TFormInviteLink::OnWindowThread(std::function<void(TFormInvite&)> change) {
    gate_.Invoke([this, change = std::move(change)] { change(*dialog_); });
}
