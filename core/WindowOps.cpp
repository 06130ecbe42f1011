#include "core/WindowOps.h"

#include <atomic>

namespace {

// Stands in before the main window exists and after it is gone: a task that outlives the
// window must neither crash nor block.
class NoWindow final : public IWindowOps {
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
        return buttons == TMsgButtons::YesNo ? TMsgAnswer::No : TMsgAnswer::OK;
    }
    void OpenUrl(const std::string&) override {}
    void PostQuitForUpdate() override {}
};

// Never destroyed: a task may still be running while the program ends, after the static
// objects' destructors have begun, and it must then still find a window that does nothing.
IWindowOps& NoWindowAtAll() {
    static IWindowOps* const none = new NoWindow;
    return *none;
}
std::atomic<IWindowOps*> installed{nullptr};

} // namespace

IWindowOps& WindowOps() {
    IWindowOps* ops = installed.load();
    return ops ? *ops : NoWindowAtAll();
}

void SetWindowOps(IWindowOps* ops) {
    installed.store(ops);
}

void ShowError(const std::string& message) {
    WindowOps().ShowMessage(message, "Error", TMsgButtons::OK);
}
