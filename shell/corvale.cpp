// The program entry: the single-instance guard, the clean-up after an update, the
// application object, the main window and the message loop.

#include "core/uCfg.h"
#include "core/uPostUpdate.h"
#include "platform/InstanceLock.h"
#include "platform/LocalMessages.h"
#include "platform/RuntimeDir.h"
#include "shell/components/Application.h"
#include "shell/components/MessageBox.h"
#include "shell/mainwindow/fMain.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace {

constexpr const char* kAlreadyRunning = "Corvale is already running !";

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// Platforms that draw without any display server to connect to.
bool DrawsWithoutDisplay(std::string_view platform) {
    const std::string_view name = platform.substr(0, platform.find(':')); // options follow ':'
    for (std::string_view known : {"offscreen", "minimal", "minimalegl", "vnc"}) {
        if (name == known) {
            return true;
        }
    }
    return false;
}

// Whether a window can be shown at all: a display to connect to, or a platform choice that
// needs none. Naming a platform that needs a display (as a profile exporting "wayland" does)
// does not make one appear, and the framework would abort before any box is shown.
bool HasDisplay() {
    if (IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY")) {
        return true;
    }
    const char* platforms = std::getenv("QT_QPA_PLATFORM");
    std::string_view rest = platforms ? platforms : "";
    while (!rest.empty()) { // the framework tries a list separated by ';' in order
        const auto end = rest.find(';');
        if (DrawsWithoutDisplay(rest.substr(0, end))) {
            return true;
        }
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    return false;
}

// A second copy says so and ends with exit code 0, before it looks at its command line.
int RefuseSecondCopy(int& argc, char** argv) {
    if (!HasDisplay()) {
        std::fprintf(stderr, "%s\n", kAlreadyRunning);
        return 0;
    }
    QApplication application(argc, argv);
    ShowMessageBox({QString::fromLatin1(kAlreadyRunning), QStringLiteral("Corvale"), TMsgIcon::None,
                    TMsgButtons::OK});
    return 0;
}

// Task threads are never waited for and may still be running: the process ends without
// destroying the shared records, or the application object, that they could be using at
// that moment. The window is gone already, and with it everything that had to be saved.
[[noreturn]] void EndProcess(int code) {
    std::fflush(nullptr);
    std::quick_exit(code);
}

} // namespace

int main(int argc, char** argv) {
    // Program load.
    InitCfg();
    platform::InstanceLock InstanceMutex = platform::InstanceLock::Acquire("CORVALECLIENTMODULE");
    if (InstanceMutex.status() == platform::InstanceLock::Status::HeldElsewhere) {
        return RefuseSecondCopy(argc, argv);
    }
    if (!InstanceMutex.IsHeld()) {
        // Running unguarded beats not running at all; say so once for whoever looks.
        std::fprintf(stderr,
                     "corvale: no single-instance lock can be had in %s; running "
                     "without one\n",
                     platform::UserRuntimeDir().empty() ? "any per-user folder"
                                                        : platform::UserRuntimeDir().c_str());
    }
    RegisteredMessage();

    // Program entry.
    HandlePostUpdate(argc, argv);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvale"));
    QGuiApplication::setDesktopFileName(QStringLiteral("corvale"));
    // Hidden in the tray, the program has no window open; closing a task's box must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    TCorvaleFormMain::TSetup setup;
    if (InstanceMutex.IsHeld()) {
        setup.MessageSocketPath =
            QString::fromStdString(platform::LocalMessageSocketPath(platform::kClientMessageName));
    }
    auto CorvaleFormMain = std::make_unique<TCorvaleFormMain>(std::move(setup));
    if (Application::ShowMainForm) {
        CorvaleFormMain->show();
    }
    const int code = QApplication::exec();
    CorvaleFormMain.reset();
    EndProcess(code);
}
