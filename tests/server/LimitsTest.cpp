// The front end's bounds seen on the wire: each limit replies to or closes the connection that
// breaks it, while a normal client at the same time gets its reply as usual.

#include "server/AddressGroup.h"
#include "server/Sqlite.h"
#include "tests/server/RunningServer.h"
#include "tests/support/Wait.h"
#include "util/uBase64.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using server_test::RunningServer;
using testing_support::WaitUntil;
using Clock = std::chrono::steady_clock;

// A raw client connection, optionally from another loopback address than 127.0.0.1.
class RawClient {
public:
    RawClient(std::uint16_t port, const char* from = "127.0.0.1") {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, from, &local.sin_addr);
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(port);
        inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            connect(fd_, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
            throw std::runtime_error("cannot connect");
        }
    }
    ~RawClient() { close(fd_); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Send(std::string_view bytes) {
        return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }

    // Everything until the server closes; `closed` tells whether it did within `wait`.
    std::string ReadUntilClose(std::chrono::milliseconds wait, bool& closed) {
        std::string received;
        const auto deadline = Clock::now() + wait;
        closed = false;
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd entry{fd_, POLLIN, 0};
            if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
                return received;
            }
            char buffer[4096];
            const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                closed = true;
                return received;
            }
            received.append(buffer, static_cast<std::size_t>(n));
        }
    }

private:
    int fd_ = -1;
};

std::string StatusLine(const std::string& response) {
    return response.substr(0, response.find("\r\n"));
}
std::string Body(const std::string& response) {
    const auto end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

// A normal client's request, replied to while the misbehaving connection is open.
void ExpectNormalClientServed(const char* why) {
    EXPECT_EQ(server_test::Call("clver"), "OK 0\n3\n11\n25") << why;
}

TEST(Limits, OversizedRequestsGetAReplyAndAreClosed) {
    RunningServer server;
    struct Case {
        const char* name;
        std::string request;
        std::string status;
        std::string body;
    };
    const std::string service = "/bin/corvale/cmd.php?action=getip&host=";
    const std::vector<Case> cases = {
        {"a head of 20 KiB of fields",
         "GET /tools/corvale/ HTTP/1.0\r\nX-Filler: " + std::string(20 * 1024, 'f') + "\r\n\r\n",
         "HTTP/1.1 431 Request Header Fields Too Large", "ERR Request header too large"},
        {"many small fields past 16 KiB",
         [] {
             std::string r = "GET /tools/corvale/ HTTP/1.0\r\n";
             for (int i = 0; i < 1000; ++i) {
                 r += "X-" + std::to_string(i) + ": some value\r\n";
             }
             return r + "\r\n";
         }(),
         "HTTP/1.1 431 Request Header Fields Too Large", "ERR Request header too large"},
        {"a target of 9 KiB", "GET " + service + std::string(9 * 1024, 'h') + " HTTP/1.0\r\n\r\n",
         "HTTP/1.1 414 URI Too Long", "ERR Request too long"},
        {"a target longer than a whole head",
         "GET " + service + std::string(40 * 1024, 'h') + " HTTP/1.0\r\n\r\n",
         "HTTP/1.1 414 URI Too Long", "ERR Request too long"},
        {"a form body past 64 KiB",
         "POST /tools/corvale/signup.php HTTP/1.0\r\nContent-Length: 70000\r\n\r\n" +
             std::string(70000, 'b'),
         "HTTP/1.1 413 Content Too Large", "ERR Request too large"},
    };
    for (const Case& c : cases) {
        RawClient bad(server.Port());
        bad.Send(c.request);
        ExpectNormalClientServed(c.name);
        bool closed = false;
        const std::string response = bad.ReadUntilClose(10s, closed);
        EXPECT_EQ(StatusLine(response), c.status) << c.name;
        EXPECT_EQ(Body(response), c.body) << c.name;
        EXPECT_TRUE(closed) << c.name;
    }
    // Just under the limits is still a request.
    const std::string host(4000, 'h');
    const std::string id(3500, 'i');
    EXPECT_EQ(server_test::Call("getip", {{"id", id}, {"host", host}}), "OK 127.0.0.1 ");
}

TEST(Limits, AHeadThatNeverEndsIsRefusedAndClosed) {
    RunningServer server;
    RawClient flood(server.Port());
    std::atomic<bool> stop{false};
    std::atomic<std::size_t> sent{0};
    std::thread sender([&] {
        flood.Send("GET /tools/corvale/ HTTP/1.0\r\n");
        const std::string line = "X-Flood: " + std::string(100, 'x') + "\r\n";
        const auto deadline = Clock::now() + 8s;
        while (!stop && Clock::now() < deadline && flood.Send(line)) {
            sent += line.size();
        }
    });
    ExpectNormalClientServed("during the flood");
    bool closed = false;
    const std::string response = flood.ReadUntilClose(15s, closed);
    stop = true;
    sender.join();
    EXPECT_EQ(StatusLine(response), "HTTP/1.1 431 Request Header Fields Too Large");
    EXPECT_TRUE(closed) << "the flooding connection is closed";
    ExpectNormalClientServed("after the flood");
}

TEST(Limits, ASlowOrSilentHeadIsClosedAtItsDeadline) {
    auto setup = RunningServer::DefaultSetup();
    setup.FrontEnd.Limits.HeadTimeout = 2s;
    RunningServer server(setup);
    // More silent connections than there are workers: none of them holds anyone up.
    std::vector<std::unique_ptr<RawClient>> silent;
    for (int i = 0; i < 40; ++i) {
        silent.push_back(std::make_unique<RawClient>(server.Port()));
    }
    RawClient trickle(server.Port());
    const std::string head = "GET /bin/corvale/cmd.php?action=clver HTTP/1.0\r\nX-Slow: abc\r\n";
    const auto start = Clock::now();
    std::thread sender([&] {
        for (std::size_t i = 0; i < head.size() && Clock::now() - start < 6s; ++i) {
            if (!trickle.Send(head.substr(i, 1))) {
                return;
            }
            std::this_thread::sleep_for(200ms);
        }
    });
    ExpectNormalClientServed("while 41 connections hold their heads back");
    bool closed = false;
    const std::string response = trickle.ReadUntilClose(10s, closed);
    const auto took = Clock::now() - start;
    sender.join();
    EXPECT_TRUE(closed);
    EXPECT_EQ(response, "") << "a head not done in time gets no reply";
    EXPECT_GE(took, 1500ms) << "the deadline counts from the connection, not each byte";
    for (auto& client : silent) {
        client->ReadUntilClose(10s, closed);
        EXPECT_TRUE(closed) << "a silent connection is closed too";
    }
}

// The head deadline ends with the head: a reply that takes longer to make (here a report
// waiting for a database another connection has locked) still reaches its client.
TEST(Limits, AReplySlowerThanTheHeadDeadlineStillArrives) {
    auto setup = RunningServer::DefaultSetup();
    setup.FrontEnd.Limits.HeadTimeout = 1s;
    RunningServer server(setup);
    server.AddAccount("jdoe", "secret");
    const std::string report =
        "GET /bin/corvale/cmd.php?action=setip&id=jdoe&pswd=" + ScramblePassword("secret") +
        "&host=PC&ip=192.0.2.";
    ASSERT_EQ(Body(server_test::RawExchange(server.Port(), report + "7 HTTP/1.0\r\n\r\n")), "OK");

    server::Database blocker(server.DatabasePath());
    blocker.Execute("BEGIN IMMEDIATE"); // for less than the service's busy timeout
    RawClient client(server.Port());
    ASSERT_TRUE(client.Send(report + "8 HTTP/1.0\r\n\r\n"));
    std::this_thread::sleep_for(2500ms);
    blocker.Execute("COMMIT");
    bool closed = false;
    const std::string response = client.ReadUntilClose(10s, closed);
    EXPECT_EQ(Body(response), "OK") << "cut off at the head's deadline";
    EXPECT_TRUE(closed);
}

TEST(Limits, ConnectionsAreCappedPerAddressAndInAll) {
    auto setup = RunningServer::DefaultSetup();
    setup.FrontEnd.Limits.MaxConnectionsPerAddress = 3;
    setup.FrontEnd.Limits.MaxConnections = 6;
    RunningServer server(setup);
    const auto waitForCount = [&](std::size_t count) {
        WaitUntil([&] { return server.FrontEnd().OpenConnections() == count; });
        return server.FrontEnd().OpenConnections();
    };
    std::vector<std::unique_ptr<RawClient>> held;
    for (int i = 0; i < 3; ++i) {
        held.push_back(std::make_unique<RawClient>(server.Port(), "127.0.0.1"));
    }
    ASSERT_EQ(waitForCount(3), 3u);

    bool closed = false;
    {
        RawClient oneTooMany(server.Port(), "127.0.0.1");
        oneTooMany.Send("GET /bin/corvale/cmd.php?action=clver HTTP/1.0\r\n\r\n");
        const std::string refused = oneTooMany.ReadUntilClose(10s, closed);
        EXPECT_EQ(StatusLine(refused), "HTTP/1.1 503 Service Unavailable");
        EXPECT_EQ(Body(refused), "ERR Too many connections, try again later");
        EXPECT_TRUE(closed);

        RawClient other(server.Port(), "127.0.0.2");
        other.Send("GET /bin/corvale/cmd.php?action=getip HTTP/1.0\r\n\r\n");
        EXPECT_EQ(Body(other.ReadUntilClose(10s, closed)), "OK 127.0.0.2 ")
            << "another address gets its reply";
    }
    // The refusal and the served client count until the server has closed them; the
    // connections past the total are only those held from here on.
    ASSERT_EQ(waitForCount(3), 3u);

    for (const char* from : {"127.0.0.3", "127.0.0.4", "127.0.0.5"}) {
        held.push_back(std::make_unique<RawClient>(server.Port(), from));
    }
    ASSERT_EQ(waitForCount(6), 6u);
    RawClient pastTheTotal(server.Port(), "127.0.0.6");
    EXPECT_EQ(StatusLine(pastTheTotal.ReadUntilClose(10s, closed)),
              "HTTP/1.1 503 Service Unavailable");

    held.clear();
    ASSERT_EQ(waitForCount(0), 0u);
    ExpectNormalClientServed("once the held connections are gone");
}

TEST(Limits, AnIPv6ClientIsCountedByItsSlash64) {
    const std::pair<const char*, const char*> kCases[] = {
        {"127.0.0.1", "127.0.0.1"},
        {"192.0.2.7", "192.0.2.7"},
        {"2001:db8:1:2:3:4:5:6", "2001:db8:1:2::/64"},
        {"2001:db8:1:2:ffff::1", "2001:db8:1:2::/64"}, // the same block, the same count
        {"2001:db8:1:3::1", "2001:db8:1:3::/64"},
        {"2001:0DB8:0001:0002::9", "2001:db8:1:2::/64"}, // however it is spelt
        {"::1", "::/64"},
        {"fe80::1%lo", "fe80::1%lo"}, // not a plain address: counted as it stands
    };
    for (const auto& [address, group] : kCases) {
        EXPECT_EQ(server::AddressGroup(address), group) << address;
    }
}

// A connection over IPv6 loopback, held open until the end of the scope.
class Ipv6Client {
public:
    explicit Ipv6Client(std::uint16_t port) {
        fd_ = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in6 remote{};
        remote.sin6_family = AF_INET6;
        remote.sin6_port = htons(port);
        remote.sin6_addr = in6addr_loopback;
        connected_ =
            fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0;
    }
    ~Ipv6Client() { close(fd_); }
    Ipv6Client(const Ipv6Client&) = delete;
    Ipv6Client& operator=(const Ipv6Client&) = delete;
    bool Connected() const { return connected_; }
    std::string Exchange(const std::string& request) {
        send(fd_, request.data(), request.size(), MSG_NOSIGNAL);
        std::string received;
        char buffer[4096];
        for (;;) {
            pollfd entry{fd_, POLLIN, 0};
            if (poll(&entry, 1, 10000) <= 0) {
                return received;
            }
            const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                return received;
            }
            received.append(buffer, static_cast<std::size_t>(n));
        }
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

TEST(Limits, IPv6ClientsAreCappedPerAddressToo) {
    const int probe = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 loopback{};
    loopback.sin6_family = AF_INET6;
    loopback.sin6_addr = in6addr_loopback;
    const bool haveIpv6 =
        probe >= 0 && bind(probe, reinterpret_cast<sockaddr*>(&loopback), sizeof loopback) == 0;
    close(probe);
    if (!haveIpv6) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    auto setup = RunningServer::DefaultSetup();
    setup.Host = "::1";
    setup.FrontEnd.Limits.MaxConnectionsPerAddress = 2;
    RunningServer server(setup);
    Ipv6Client first(server.Port());
    Ipv6Client second(server.Port());
    ASSERT_TRUE(first.Connected() && second.Connected());
    WaitUntil([&] { return server.FrontEnd().OpenConnections() == 2; });
    Ipv6Client third(server.Port());
    const std::string refused =
        third.Exchange("GET /bin/corvale/cmd.php?action=getip HTTP/1.0\r\n\r\n");
    EXPECT_EQ(StatusLine(refused), "HTTP/1.1 503 Service Unavailable");
    const std::string replied =
        first.Exchange("GET /bin/corvale/cmd.php?action=getip HTTP/1.0\r\n\r\n");
    EXPECT_EQ(Body(replied), "OK ::1 ") << "the ones let in get their replies as usual";
}

} // namespace
