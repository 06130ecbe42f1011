#pragma once
// A private X server (Xvfb, on a display it picks itself) with a tray host (trayer) for the
// tests that need a real notification area. Both end with this object, and with the test
// program should it die first.

#include <string>
#include <sys/types.h>
#include <vector>

class TXSession {
public:
    TXSession();
    ~TXSession();
    TXSession(const TXSession&) = delete;
    TXSession& operator=(const TXSession&) = delete;

    // Empty when the server and the tray host are running; otherwise why they are not.
    const std::string& Failure() const { return failure_; }
    // ":N", for DISPLAY.
    const std::string& Display() const { return display_; }

private:
    bool StartServer();
    static pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
                       int inheritedFd);
    static void Stop(pid_t& pid);

    pid_t server_ = -1;
    pid_t trayHost_ = -1;
    std::string display_;
    std::string failure_;
};

// The full path of a program on PATH, or empty text.
std::string FindProgram(const std::string& name);
