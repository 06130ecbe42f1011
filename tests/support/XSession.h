#pragma once
// A private X server (Xvfb, on a display it picks itself) with a tray host (trayer) for the
// tests that need a real notification area. Both end with this object, and with the test
// program should it die first.

#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"

#include <memory>
#include <string>
#include <vector>

namespace testing_support {

// trayer along the top left edge, as the tray and whole-program tests expect it.
std::vector<std::string> DefaultTrayHost();

class XSession {
public:
    // Ready once the tray host owns the tray (the screen's tray selection), so an icon shown
    // right after docks at once. `trayHost` is the host's program and its arguments.
    // With HostStart::Later there is no tray until StartTrayHost.
    enum class HostStart { AtOnce, Later };
    explicit XSession(std::vector<std::string> trayHost = DefaultTrayHost(),
                      HostStart hostStart = HostStart::AtOnce);
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // Empty when the server and the tray host are running; otherwise why they are not.
    const std::string& Failure() const { return failure_; }
    // Whether the failure is only that Xvfb or the tray host is not installed (a reason to skip,
    // where any other failure is a fault of the run).
    bool Missing() const { return missing_; }
    // ":N", for DISPLAY.
    const std::string& Display() const { return display_; }

    // Starts the tray host (again), ready once it owns the tray; false, with Failure() saying
    // why, when it does not come up. Stopping it ends it as a panel's restart would.
    bool StartTrayHost();
    void StopTrayHost();

private:
    bool StartServer();
    void LaunchTrayHost();

    std::unique_ptr<ChildProcess> server_;
    std::vector<std::string> trayHostCommand_; // the program's path and its arguments
    std::unique_ptr<ChildProcess> trayHost_;
    TempFolder logs_; // what the tray host writes, for the failure when it ends
    std::string display_;
    std::string failure_;
    bool missing_ = false;
};

// Whether some client of the X server on `display` owns the tray selection of its first screen
// (_NET_SYSTEM_TRAY_S0); false when the server cannot be reached.
bool TraySelectionOwned(const std::string& display);

} // namespace testing_support
