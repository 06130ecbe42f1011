#pragma once
// What the service tells the service manager that started it: ready, a status line, stopping,
// and the watchdog's "still alive". Every message goes to the socket NOTIFY_SOCKET names;
// without it nothing is sent and nothing changes.

#include <chrono>
#include <optional>
#include <string>

namespace server {

class SystemdNotify {
public:
    // Every listener accepts connections.
    void Ready();
    // A short line for the manager's status display.
    void Status(const std::string& line);
    void Stopping();
    void WatchdogAlive();
    // How often the manager wants to hear WatchdogAlive (at most), when it watches the service.
    static std::optional<std::chrono::microseconds> WatchdogInterval();

private:
    static void Send(const std::string& message);
};

} // namespace server
