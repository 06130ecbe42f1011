// corvale-server under a service manager: the readiness, status, stopping and watchdog
// messages it sends to the datagram socket NOTIFY_SOCKET names, here one of the test's own.

#include "tests/server/RunningServer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HttpText.h"
#include "tests/support/TempFolder.h"
#include "tests/support/Wait.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <regex>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace testing_support {
namespace {

using namespace std::chrono_literals;

// The service manager's end: a Unix datagram socket bound in the test's folder.
class NotifySocket {
public:
    explicit NotifySocket(std::string path) : path_(std::move(path)) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (fd_ < 0 || path_.size() >= sizeof address.sun_path) {
            throw std::runtime_error("cannot make the notify socket");
        }
        std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
        if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            throw std::runtime_error("cannot bind the notify socket");
        }
    }
    ~NotifySocket() { ::close(fd_); }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    std::string Variable() const { return "NOTIFY_SOCKET=" + path_; }

    // The next message, or none within `wait` (not stretched when `scaled` is false: a check
    // that nothing comes).
    std::optional<std::string> Next(std::chrono::milliseconds wait, bool scaled = true) {
        pollfd ready{fd_, POLLIN, 0};
        const auto limit = scaled ? Scaled(wait) : wait;
        if (::poll(&ready, 1, static_cast<int>(limit.count())) != 1) {
            return std::nullopt;
        }
        char buffer[4096];
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got < 0) {
            return std::nullopt;
        }
        return std::string(buffer, static_cast<std::size_t>(got));
    }

    // Reads until a message starting with `prefix` comes; none when it does not in time.
    std::optional<std::string> NextStartingWith(const std::string& prefix,
                                                std::chrono::milliseconds wait = 15s) {
        const auto end = std::chrono::steady_clock::now() + Scaled(wait);
        while (std::chrono::steady_clock::now() < end) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            auto message = Next(std::max(left, 1ms), false);
            if (message && message->rfind(prefix, 0) == 0) {
                return message;
            }
        }
        return std::nullopt;
    }

private:
    std::string path_;
    int fd_ = -1;
};

std::uint16_t PortFromBanner(const std::string& banner) {
    const std::string prefix = "corvale-server listening on 127.0.0.1:";
    EXPECT_EQ(banner.rfind(prefix, 0), 0u) << banner;
    return banner.rfind(prefix, 0) == 0
               ? static_cast<std::uint16_t>(std::stoi(banner.substr(prefix.size())))
               : std::uint16_t{0};
}

TEST(Notify, ReadyOnceServingThenStatusLinesAndStoppingOnTerminate) {
    TempFolder folder;
    NotifySocket manager(folder / "notify");
    ChildProcess serve(CORVALE_SERVER_PROGRAM,
                       {"--db", folder / "notify.db", "--listen", "127.0.0.1:0", "serve"},
                       {.Environment = {manager.Variable(), "WATCHDOG_USEC="}, .PipeOutput = true});

    // The very first message, and by then the port answers.
    EXPECT_EQ(manager.Next(15s), "READY=1");
    const std::uint16_t port = PortFromBanner(serve.ReadLine());
    ASSERT_NE(port, 0);
    EXPECT_EQ(BodyOf(RawExchange(port, "GET /healthz HTTP/1.0\r\n\r\n")), "ok\n");

    // A status line at once, then every few seconds with what was served since.
    const std::regex status("STATUS=(\\d+) connections, (\\d+) requests in the last minute");
    const auto first = manager.NextStartingWith("STATUS=");
    ASSERT_TRUE(first.has_value());
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(*first, parts, status)) << *first;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(BodyOf(RawExchange(port, "GET /healthz HTTP/1.0\r\n\r\n")), "ok\n");
    }
    const auto later = manager.NextStartingWith("STATUS=");
    ASSERT_TRUE(later.has_value());
    ASSERT_TRUE(std::regex_match(*later, parts, status)) << *later;
    EXPECT_EQ(std::stoi(parts[1]), 0) << "every probe's connection has closed";
    EXPECT_EQ(std::stoi(parts[2]), 4) << "counted since it served: " << *later;

    serve.Signal(SIGTERM);
    // No watchdog was asked for: nothing but status lines comes before the stop.
    std::optional<std::string> message;
    while ((message = manager.Next(15s)) && message->rfind("STATUS=", 0) == 0) {
    }
    EXPECT_EQ(message, "STOPPING=1");
    EXPECT_EQ(serve.WaitForExit(), 0);
}

// Pings within the interval while every loop moves; none once a loop hangs; again after.
TEST(Notify, WatchdogPingsOnlyWhileEveryLoopMoves) {
    TempFolder folder;
    NotifySocket manager(folder / "notify");
    const std::string stall = folder / "stall";
    ChildProcess serve(
        CORVALE_SERVER_PROGRAM,
        {"--db", folder / "watchdog.db", "--listen", "127.0.0.1:0", "--io-threads", "2", "serve"},
        {.Environment = {manager.Variable(), "WATCHDOG_USEC=1000000",
                         "WATCHDOG_PID=", "CORVALE_STALL_FILE_FOR_TESTS=" + stall},
         .PipeOutput = true});
    ASSERT_TRUE(manager.NextStartingWith("READY=1").has_value());
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(manager.NextStartingWith("WATCHDOG=1", 5s).has_value()) << "ping " << i;
    }

    WriteFile(stall, "");
    // A ping under way may still come; then a silence of several intervals.
    const auto silentFor = [&](std::chrono::milliseconds quiet) {
        const auto end = std::chrono::steady_clock::now() + quiet;
        while (std::chrono::steady_clock::now() < end) {
            const auto message = manager.Next(50ms, false);
            if (message && *message == "WATCHDOG=1") {
                return false;
            }
        }
        return true;
    };
    EXPECT_TRUE(WaitUntil([&] { return silentFor(3s); }, 20s)) << "pings go on with a hung loop";

    ::unlink(stall.c_str());
    EXPECT_TRUE(manager.NextStartingWith("WATCHDOG=1", 10s).has_value()) << "the loop moves again";
    serve.Signal(SIGTERM);
    EXPECT_EQ(serve.WaitForExit(), 0);
}

} // namespace
} // namespace testing_support
