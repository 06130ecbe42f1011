#include "shell/components/InviteDialogLink.h"

#include "shell/components/fInvite.h"

#include <QCoreApplication>
#include <QThread>

TFormInviteLink::TFormInviteLink(TFormInvite* dialog) : dialog_(dialog) {}

void TFormInviteLink::SetGettingHostList(bool value) {
    OnWindowThread([value](TFormInvite& dialog) { dialog.GettingHostList = value; });
}

void TFormInviteLink::BeginHostList() {
    OnWindowThread([](TFormInvite& dialog) { dialog.BeginHostList(); });
}

void TFormInviteLink::AppendHostRow(const std::string& caption, std::int32_t number) {
    const QString text = QString::fromStdString(caption);
    OnWindowThread([&text, number](TFormInvite& dialog) { dialog.AppendHostRow(text, number); });
}

void TFormInviteLink::EndHostList() {
    OnWindowThread([](TFormInvite& dialog) { dialog.EndHostList(); });
}

void TFormInviteLink::OnWindowThread(const std::function<void(TFormInvite&)>& change) {
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr) {
        return; // the program is ending: no window is left to change
    }
    const auto apply = [this, &change] {
        if (dialog_) {
            change(*dialog_);
        }
    };
    if (QThread::currentThread() == application->thread()) {
        apply(); // already there: a blocking call to ourselves would never return
    } else {
        QMetaObject::invokeMethod(application, apply, Qt::BlockingQueuedConnection);
    }
}
