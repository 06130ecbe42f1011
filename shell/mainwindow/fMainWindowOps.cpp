// How the tasks' window operations reach the main window: on the window thread, through the
// gate, with the task waiting until each is done.

#include "shell/mainwindow/fMainWindowOps.h"

#include "core/WindowOps.h"
#include "shell/components/MessageBox.h"
#include "shell/components/WindowThreadGate.h"
#include "shell/mainwindow/fMain.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QPointer>
#include <QUrl>
#include <vector>

namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

TMsgAnswer DismissedAnswer(TMsgButtons buttons) {
    return buttons == TMsgButtons::YesNo ? TMsgAnswer::No : TMsgAnswer::OK;
}

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
        Change([](TCorvaleFormMain& w) { w.StopCheckTimer(); });
    }
    void RestartTimerIfActive() override {
        Change([](TCorvaleFormMain& w) { w.RestartCheckTimerIfActive(); });
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
        Change([c = Text(caption)](TCorvaleFormMain& w) { w.setWindowTitle(c); });
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
        Change([u = Text(url)](TCorvaleFormMain&) { QDesktopServices::openUrl(QUrl(u)); });
    }
    void PostQuitForUpdate() override {
        gate_.Post([this] { window_->PostMessage(WM_QUIT_FOR_UPDATE); });
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

IWindowOps& MainWindowOps() {
    return Instance();
}
