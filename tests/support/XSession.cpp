#include "tests/support/XSession.h"

#include "tests/support/Wait.h"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string_view>
#include <unistd.h>
#include <xcb/xcb.h>

namespace testing_support {

std::vector<std::string> DefaultTrayHost() {
    return {"trayer",  "--edge", "top",      "--align", "left",          "--widthtype", "pixel",
            "--width", "200",    "--height", "32",      "--transparent", "false"};
}

XSession::XSession(std::vector<std::string> trayHost, HostStart hostStart) {
    const std::string host = trayHost.empty() ? std::string() : FindProgram(trayHost.front());
    if (FindProgram("Xvfb").empty() || host.empty()) {
        failure_ = "Xvfb or " + (trayHost.empty() ? std::string("a tray host") : trayHost.front()) +
                   " is not installed";
        missing_ = true;
        return;
    }
    if (!StartServer()) {
        return;
    }
    ::setenv("DISPLAY", display_.c_str(), 1);
    trayHost.front() = host;
    trayHostCommand_ = std::move(trayHost);
    if (hostStart == HostStart::AtOnce) {
        LaunchTrayHost();
    }
}

bool XSession::StartTrayHost() {
    if (!server_ || trayHostCommand_.empty()) {
        return false;
    }
    StopTrayHost();
    failure_.clear();
    LaunchTrayHost();
    return failure_.empty();
}

void XSession::StopTrayHost() {
    if (trayHost_) {
        trayHost_->Stop();
        trayHost_.reset();
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
// accepts connections, so parallel test programs never collide. It never resets when its last
// client leaves: a reset refuses connections for a moment, and the tray host's first one could
// fall into it.
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
                                     "800x600x24", "-nolisten", "tcp", "-noreset"},
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

namespace {

// ": " and the last line the program wrote, or nothing when it wrote none.
std::string LastLine(const std::string& file) {
    std::string text = ReadFile(file).value_or("");
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text.empty() ? std::string() : ": " + text.substr(text.rfind('\n') + 1);
}

} // namespace

// The host takes the tray some time after it starts; an icon shown before then may never dock.
void XSession::LaunchTrayHost() {
    const std::vector<std::string>& trayHost = trayHostCommand_;
    const std::string name = trayHost.front().substr(trayHost.front().rfind('/') + 1);
    try {
        trayHost_ = std::make_unique<ChildProcess>(
            trayHost.front(), std::vector<std::string>(trayHost.begin() + 1, trayHost.end()),
            ChildSetup{.OutputFile = logs_ / "tray-host.log"});
    } catch (const std::exception&) {
        failure_ = name + " could not be started";
        return;
    }
    const auto deadline = 10s;
    const bool owned =
        WaitUntil([&] { return !trayHost_->Running() || TraySelectionOwned(display_); }, deadline);
    if (!trayHost_->Running()) {
        const std::optional<int> status = trayHost_->WaitForExit(0ms);
        failure_ = name + " ended with exit status " +
                   (status ? std::to_string(*status) : std::string("unknown")) +
                   " before it took the tray over" + LastLine(logs_ / "tray-host.log");
    } else if (!owned) {
        failure_ = name + " did not take the tray over within " +
                   std::to_string(Scaled(deadline).count()) + " ms";
    }
}

bool TraySelectionOwned(const std::string& display) {
    xcb_connection_t* connection = ::xcb_connect(display.c_str(), nullptr);
    const auto disconnect = [](xcb_connection_t* c) { ::xcb_disconnect(c); };
    const std::unique_ptr<xcb_connection_t, decltype(disconnect)> closer(connection, disconnect);
    if (::xcb_connection_has_error(connection)) {
        return false;
    }
    constexpr std::string_view kSelection = "_NET_SYSTEM_TRAY_S0";
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        ::xcb_intern_atom_reply(connection,
                                ::xcb_intern_atom(connection, 0,
                                                  static_cast<std::uint16_t>(kSelection.size()),
                                                  kSelection.data()),
                                nullptr),
        &std::free);
    if (!atom) {
        return false;
    }
    const std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        ::xcb_get_selection_owner_reply(connection,
                                        ::xcb_get_selection_owner(connection, atom->atom), nullptr),
        &std::free);
    return owner && owner->owner != XCB_NONE;
}

} // namespace testing_support
