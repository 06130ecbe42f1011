// The bridge from the tasks to the main window, whole: the object the tasks call, which carries
// each call through the gate to the window thread and waits until it is done, and the form's
// methods of the same names that make the change there. Those methods are private to the
// form; this bridge, its friend, is their only caller, so a task cannot reach the window
// except through the gate.

#include "shell/mainwindow/fMainWindowOps.h"

#include "core/WindowOps.h"
#include "shell/components/DesktopNotifier.h"
#include "shell/components/MessageBox.h"
#include "shell/components/SysTrayIcon.h"
#include "shell/components/WindowMessages.h"
#include "shell/components/WindowThreadGate.h"
#include "shell/mainwindow/ActionList.h"
#include "shell/mainwindow/StatusPanels.h"
#include "shell/mainwindow/fMain.h"

#include <QAction>
#include <QMessageBox>
#include <QPointer>
#include <QTableWidget>
#include <QTimer>
#include <functional>
#include <utility>
#include <vector>

namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

// ---- The task side: any thread ---------------------------------------------------------------

// Not in the unnamed namespace: the form names it as its friend.
class TMainWindowOps final : public IWindowOps {
public:
    void Attach(TCorvaleFormMain* window) {
        window_ = window;
        gate_.Open(window);
        SetWindowOps(this);
    }

    void Detach(TCorvaleFormMain* window) {
        if (window_ != window) {
            return;
        }
        SetWindowOps(nullptr);
        gate_.Close();
        window_ = nullptr;
        CloseOpenBoxes();
    }

    void StopTimer() override {
        Change([](TCorvaleFormMain& w) { w.StopTimer(); });
    }
    void RestartTimerIfActive() override {
        Change([](TCorvaleFormMain& w) { w.RestartTimerIfActive(); });
    }
    bool IsActiveChecked() override {
        return gate_.Invoke<bool>([this] { return window_->IsActiveChecked(); }, false);
    }
    void AppendHistoryRow(const std::string& address, const std::string& dateTime) override {
        Change([a = Text(address), d = Text(dateTime)](TCorvaleFormMain& w) {
            w.AppendHistoryRow(a, d);
        });
    }
    void SetStatusText(TStatusBar bar, int panel, const std::string& text) override {
        Change(
            [bar, panel, t = Text(text)](TCorvaleFormMain& w) { w.SetStatusText(bar, panel, t); });
    }
    void SetTrayHint(const std::string& hint) override {
        Change([h = Text(hint)](TCorvaleFormMain& w) { w.SetTrayHint(h); });
    }
    void SetCaption(const std::string& caption) override {
        Change([c = Text(caption)](TCorvaleFormMain& w) { w.SetCaption(c); });
    }
    void BeginBuddyList() override {
        Change([](TCorvaleFormMain& w) { w.BeginBuddyList(); });
    }
    void AppendBuddyRow(const std::string& userId, const std::string& host,
                        const std::string& address, const std::string& dateTime) override {
        Change([u = Text(userId), h = Text(host), a = Text(address),
                d = Text(dateTime)](TCorvaleFormMain& w) { w.AppendBuddyRow(u, h, a, d); });
    }
    void EndBuddyList() override {
        Change([](TCorvaleFormMain& w) { w.EndBuddyList(); });
    }
    int BuddyRowCount() override {
        return gate_.Invoke<int>([this] { return window_->BuddyRowCount(); }, 0);
    }
    TMsgAnswer ShowMessage(const std::string& text, const std::string& caption,
                           TMsgButtons buttons) override {
        const TMessageBoxRequest request{Text(text), Text(caption), TMsgIcon::None, buttons};
        if (gate_.OnWindowThread()) {
            // Only a task waits for a box without a loop; here the plain modal box it is.
            return gate_.IsOpen() ? ShowMessageBox(request) : DismissedAnswer(buttons);
        }
        return gate_.Await<TMsgAnswer>(
            [this, request](TWindowThreadGate::TCompletion<TMsgAnswer> answer) {
                OpenBox(request, std::move(answer));
            },
            DismissedAnswer(buttons));
    }
    void OpenUrl(const std::string& url) override {
        Change([u = Text(url)](TCorvaleFormMain& w) { w.OpenUrl(u); });
    }
    void PostQuitForUpdate() override {
        gate_.Post([this] { window_->PostQuitForUpdate(); });
    }

private:
    // A change to the window, followed by the update rules once the window thread is idle.
    void Change(std::function<void(TCorvaleFormMain&)> change) {
        gate_.Invoke([this, change = std::move(change)] {
            change(*window_);
            window_->ScheduleActionUpdate();
        });
    }

    // Window thread.
    void OpenBox(const TMessageBoxRequest& request,
                 TWindowThreadGate::TCompletion<TMsgAnswer> answer) {
        QMessageBox* box = ShowMessageBoxAsync(request, std::move(answer));
        if (box) {
            openBoxes_.emplace_back(box);
        }
    }

    // Window thread. Their tasks have been released already; closing answers nobody.
    void CloseOpenBoxes() {
        for (const QPointer<QMessageBox>& box : openBoxes_) {
            if (box) {
                box->close();
            }
        }
        openBoxes_.clear();
    }

    TWindowThreadGate gate_;
    TCorvaleFormMain* window_ = nullptr; // read on the window thread only
    std::vector<QPointer<QMessageBox>> openBoxes_;
};

namespace {

// Never destroyed: a task may still hold it while the process ends.
TMainWindowOps& Instance() {
    static auto* ops = new TMainWindowOps;
    return *ops;
}

} // namespace

void AttachWindowOps(TCorvaleFormMain* window) {
    Instance().Attach(window);
}

void DetachWindowOps(TCorvaleFormMain* window) {
    Instance().Detach(window);
}

// ---- The window side: the window thread ------------------------------------------------------

void TCorvaleFormMain::StopTimer() {
    Timer1->stop();
    ++checksRunning_;
}

void TCorvaleFormMain::RestartTimerIfActive() {
    if (actActive->isChecked()) {
        Timer1->start();
    } else {
        Timer1->stop();
    }
    CheckEnded();
}

bool TCorvaleFormMain::IsActiveChecked() const {
    return actActive->isChecked();
}

void TCorvaleFormMain::AppendHistoryRow(const QString& address, const QString& dateTime) {
    const int row = LV1->rowCount();
    LV1->insertRow(row);
    LV1->setItem(row, 0, new QTableWidgetItem(QString::number(row + 1)));
    LV1->setItem(row, 1, new QTableWidgetItem(address));
    LV1->setItem(row, 2, new QTableWidgetItem(dateTime));
    TellAddressChange(address);
}

void TCorvaleFormMain::TellAddressChange(const QString& address) {
    const QString before = std::exchange(lastRecordedAddress_, address);
    if (!Settings.NotifyChange || before == address) {
        return;
    }
    notifier_->Notify(
        QStringLiteral("Corvale"),
        before.isEmpty()
            ? QStringLiteral("Your IP address is %1.").arg(address)
            : QStringLiteral("Your IP address changed from %1 to %2.").arg(before, address));
}

void TCorvaleFormMain::SetStatusText(TStatusBar bar, int panel, const QString& text) {
    (bar == TStatusBar::SB1 ? SB1 : SB2)->SetPanelText(panel, text);
}

void TCorvaleFormMain::SetTrayHint(const QString& hint) {
    SysTrayIcon1->SetHint(hint);
}

void TCorvaleFormMain::SetCaption(const QString& caption) {
    setWindowTitle(caption);
}

// Bulk updates may overlap (two fetches at once); the list repaints when the last one ends.
void TCorvaleFormMain::BeginBuddyList() {
    if (buddyListUpdates_++ == 0) {
        LV2->setUpdatesEnabled(false);
    }
    LV2->setRowCount(0);
}

void TCorvaleFormMain::AppendBuddyRow(const QString& userId, const QString& host,
                                      const QString& address, const QString& dateTime) {
    const int row = LV2->rowCount();
    LV2->insertRow(row);
    const QString cells[] = {QString::number(row + 1), userId, host, address, dateTime};
    for (int column = 0; column < 5; ++column) {
        LV2->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
}

void TCorvaleFormMain::EndBuddyList() {
    if (buddyListUpdates_ > 0 && --buddyListUpdates_ == 0) {
        LV2->setUpdatesEnabled(true);
    }
}

int TCorvaleFormMain::BuddyRowCount() const {
    return LV2->rowCount();
}

void TCorvaleFormMain::OpenUrl(const QString& url) {
    OpenWebPage(url);
}

void TCorvaleFormMain::PostQuitForUpdate() {
    PostMessage(WM_QUIT_FOR_UPDATE);
}

void TCorvaleFormMain::ScheduleActionUpdate() {
    ActionList1->ScheduleUpdate();
}
