#include "core/WindowOps.h"

#include <atomic>

namespace {

// Never destroyed: a task may still be running while the program ends, after the static
// objects' destructors have begun, and it must then still find a window that does nothing.
IWindowOps& NoWindowAtAll() {
    static IWindowOps* const none = new TNoWindow;
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
