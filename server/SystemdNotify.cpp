#include "server/SystemdNotify.h"

#include <systemd/sd-daemon.h>

namespace server {

void SystemdNotify::Send(const std::string& message) {
    // Without NOTIFY_SOCKET this sends nothing; a manager that went away is no failure of ours.
    sd_notify(0, message.c_str());
}

void SystemdNotify::Ready() {
    Send("READY=1");
}

void SystemdNotify::Status(const std::string& line) {
    std::string text = line;
    // One line: the protocol separates its assignments by line ends.
    for (char& c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    Send("STATUS=" + text);
}

void SystemdNotify::Stopping() {
    Send("STOPPING=1");
}

void SystemdNotify::WatchdogAlive() {
    Send("WATCHDOG=1");
}

std::optional<std::chrono::microseconds> SystemdNotify::WatchdogInterval() {
    std::uint64_t usec = 0;
    // Also checks WATCHDOG_PID, so a child that inherited the variables keeps quiet.
    if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0) {
        return std::nullopt;
    }
    return std::chrono::microseconds(usec);
}

} // namespace server
