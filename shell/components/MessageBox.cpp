#include "shell/components/MessageBox.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

namespace {

TMessageBoxHook& Hook() {
    static TMessageBoxHook hook;
    return hook;
}

QMessageBox::Icon ToQtIcon(TMsgIcon icon) {
    switch (icon) {
    case TMsgIcon::Error:
        return QMessageBox::Critical;
    case TMsgIcon::Question:
        return QMessageBox::Question;
    case TMsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox* CreateBox(const TMessageBoxRequest& request) {
    const auto buttons = request.Buttons == TMsgButtons::YesNo
                             ? QMessageBox::Yes | QMessageBox::No
                             : QMessageBox::StandardButtons(QMessageBox::Ok);
    auto* box = new QMessageBox(ToQtIcon(request.Icon), request.Caption, request.Text, buttons);
    if (request.Buttons == TMsgButtons::YesNo) {
        box->setEscapeButton(QMessageBox::No);
    }
    return box;
}

TMsgAnswer ToAnswer(const QMessageBox& box, TMsgButtons buttons) {
    if (buttons == TMsgButtons::OK) {
        return TMsgAnswer::OK;
    }
    return box.clickedButton() == box.button(QMessageBox::Yes) ? TMsgAnswer::Yes : TMsgAnswer::No;
}

} // namespace

TMsgAnswer ShowMessageBox(const TMessageBoxRequest& request) {
    if (Hook()) {
        return Hook()(request);
    }
    std::unique_ptr<QMessageBox> box(CreateBox(request));
    box->exec();
    return ToAnswer(*box, request.Buttons);
}

QMessageBox* ShowMessageBoxAsync(const TMessageBoxRequest& request,
                                 std::function<void(TMsgAnswer)> done) {
    if (Hook()) {
        done(Hook()(request));
        return nullptr;
    }
    QMessageBox* box = CreateBox(request);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    const TMsgButtons buttons = request.Buttons;
    QObject::connect(box, &QMessageBox::finished, box,
                     [box, buttons, done = std::move(done)] { done(ToAnswer(*box, buttons)); });
    box->show();
    return box;
}

QString ApplicationTitle() {
    return QGuiApplication::applicationDisplayName();
}

void ShowPlainMessage(const QString& text) {
    ShowMessageBox({text, ApplicationTitle(), TMsgIcon::None, TMsgButtons::OK});
}

QString ApplicationErrorText(const QString& errorText) {
    if (!errorText.isEmpty() && errorText.back() > QLatin1Char('.')) {
        return errorText + QLatin1Char('.');
    }
    return errorText;
}

void ShowApplicationError(const QString& errorText) {
    ShowMessageBox(
        {ApplicationErrorText(errorText), ApplicationTitle(), TMsgIcon::Error, TMsgButtons::OK});
}

QMessageBox* ShowApplicationErrorAsync(const QString& errorText) {
    const TMessageBoxRequest request{ApplicationErrorText(errorText), ApplicationTitle(),
                                     TMsgIcon::Error, TMsgButtons::OK};
    if (Hook()) {
        Hook()(request);
        return nullptr;
    }
    QMessageBox* box = CreateBox(request);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
    return box;
}

void SetMessageBoxHookForTests(TMessageBoxHook hook) {
    Hook() = std::move(hook);
}
