#include "tests/support/PrivateBus.h"

#include "tests/support/Wait.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {
namespace {

const char* const kDaemon = "/usr/bin/dbus-daemon";

// A session bus lets everyone on it own and call anything: only this test's own processes
// can reach its socket.
const char* const kSessionPolicy = "  <policy context=\"default\">\n"
                                   "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                                   "    <allow eavesdrop=\"true\"/>\n"
                                   "    <allow own=\"*\"/>\n"
                                   "  </policy>\n";

// A system bus's usual default policy, with the login manager's name as the one to own.
const char* const kSystemPolicy =
    "  <policy context=\"default\">\n"
    "    <allow user=\"*\"/>\n"
    "    <deny own=\"*\"/>\n"
    "    <deny send_type=\"method_call\"/>\n"
    "    <allow send_type=\"signal\"/>\n"
    "    <allow send_requested_reply=\"true\" send_type=\"method_return\"/>\n"
    "    <allow send_requested_reply=\"true\" send_type=\"error\"/>\n"
    "    <allow receive_type=\"method_call\"/>\n"
    "    <allow receive_type=\"method_return\"/>\n"
    "    <allow receive_type=\"error\"/>\n"
    "    <allow receive_type=\"signal\"/>\n"
    "    <allow send_destination=\"org.freedesktop.DBus\"/>\n"
    "    <allow own=\"org.freedesktop.login1\"/>\n"
    "    <allow send_destination=\"org.freedesktop.login1\"/>\n"
    "  </policy>\n";

void WriteConfiguration(const std::string& file, const std::string& folder, PrivateBus::Kind kind) {
    const bool system = kind == PrivateBus::Kind::System;
    std::ofstream(file)
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>"
        << (system ? "system" : "session")
        << "</type>\n"
           "  <listen>unix:dir="
        << folder
        << "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
        << (system ? kSystemPolicy : kSessionPolicy) << "</busconfig>\n";
}

} // namespace

PrivateBus::PrivateBus(Kind kind) {
    if (access(kDaemon, X_OK) != 0) {
        failure_ = "dbus-daemon is not installed";
        return;
    }
    const std::string configuration = folder_ / "bus.conf";
    WriteConfiguration(configuration, folder_.Path().string(), kind);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        failure_ = "no pipe for dbus-daemon";
        return;
    }
    const std::string printTo = "--print-address=" + std::to_string(fds[1]);
    const std::string configArg = "--config-file=" + configuration;
    const pid_t parent = getpid();
    daemon_ = fork();
    if (daemon_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        fcntl(fds[1], F_SETFD, 0);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO); // its notes on resource limits it may not raise
        execl(kDaemon, kDaemon, configArg.c_str(), "--nofork", "--nopidfile", printTo.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    // The daemon prints its address once it accepts connections.
    pollfd readable{fds[0], POLLIN, 0};
    while (daemon_ > 0 && poll(&readable, 1, static_cast<int>(Scaled(10s).count())) > 0) {
        char c = 0;
        if (read(fds[0], &c, 1) != 1 || c == '\n') {
            break;
        }
        address_ += c;
    }
    close(fds[0]);
    if (address_.empty()) {
        failure_ = "dbus-daemon did not start";
    }
}

PrivateBus::~PrivateBus() {
    if (daemon_ > 0) {
        kill(daemon_, SIGTERM);
        waitpid(daemon_, nullptr, 0);
    }
}

} // namespace testing_support
