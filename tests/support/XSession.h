#pragma once
// A private X server (Xvfb, on a display it picks itself) with a tray host (trayer) for the
// tests that need a real notification area. Both end with this object, and with the test
// program should it die first.

#include "tests/support/ChildProcess.h"

#include <memory>
#include <string>

namespace testing_support {

class XSession {
public:
    XSession();
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // Empty when the server and the tray host are running; otherwise why they are not.
    const std::string& Failure() const { return failure_; }
    // ":N", for DISPLAY.
    const std::string& Display() const { return display_; }

private:
    bool StartServer();

    std::unique_ptr<ChildProcess> server_;
    std::unique_ptr<ChildProcess> trayHost_;
    std::string display_;
    std::string failure_;
};

} // namespace testing_support
