#include "tests/support/XSession.h"

#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace testing_support {

XSession::XSession() {
    const std::string trayer = FindProgram("trayer");
    if (FindProgram("Xvfb").empty() || trayer.empty()) {
        failure_ = "Xvfb or trayer is not installed";
        return;
    }
    if (!StartServer()) {
        return;
    }
    ::setenv("DISPLAY", display_.c_str(), 1);
    try {
        trayHost_ = std::make_unique<ChildProcess>(
            trayer,
            std::vector<std::string>{"--edge", "top", "--align", "left", "--widthtype", "pixel",
                                     "--width", "200", "--height", "32", "--transparent", "false"});
    } catch (const std::exception&) {
        failure_ = "trayer could not be started";
    }
}

XSession::~XSession() {
    // Asked to end first: Xvfb then removes its lock file and socket.
    if (trayHost_) {
        trayHost_->Stop();
    }
    if (server_) {
        server_->Stop();
    }
}

// Xvfb picks a free display itself and writes its number to the given descriptor once it
// accepts connections, so parallel test programs never collide.
bool XSession::StartServer() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        failure_ = "no pipe for Xvfb";
        return false;
    }
    try {
        server_ = std::make_unique<ChildProcess>(
            FindProgram("Xvfb"),
            std::vector<std::string>{"-displayfd", std::to_string(fds[1]), "-screen", "0",
                                     "800x600x24", "-nolisten", "tcp"},
            ChildSetup{.InheritedFd = fds[1]});
    } catch (const std::exception&) {
    }
    ::close(fds[1]);
    std::string number;
    pollfd readable{fds[0], POLLIN, 0};
    const int deadline = static_cast<int>(Scaled(10s).count());
    while (server_ && server_->Running() && ::poll(&readable, 1, deadline) > 0) {
        char c = 0;
        if (::read(fds[0], &c, 1) != 1 || c == '\n') {
            break;
        }
        number += c;
    }
    ::close(fds[0]);
    if (number.empty()) {
        failure_ = "Xvfb did not start";
        server_.reset();
        return false;
    }
    display_ = ":" + number;
    return true;
}

} // namespace testing_support
