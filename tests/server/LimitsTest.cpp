// The front end's bounds seen on the wire: each limit replies to or closes the connection that
// breaks it, while a normal client at the same time gets its reply as usual.

#include "server/AddressGroup.h"
#include "server/Sqlite.h"
#include "tests/server/RunningServer.h"
#include "tests/support/HttpText.h"
#include "tests/support/RawLoopbackClient.h"
#include "tests/support/Wait.h"
#include "util/uBase64.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using testing_support::BodyOf;
using testing_support::RawLoopbackClient;
using testing_support::RunningServer;
using testing_support::StatusLineOf;
using testing_support::WaitUntil;
using Clock = std::chrono::steady_clock;

// A normal client's request, replied to while the misbehaving connection is open.
void ExpectNormalClientServed(const char* why) {
    EXPECT_EQ(testing_support::Call("clver"), "OK 0\n3\n11\n25") << why;
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
        RawLoopbackClient bad(server.Port());
        bad.Send(c.request);
        ExpectNormalClientServed(c.name);
        const auto [response, closed] = bad.ReadUntilClose(10s);
        EXPECT_EQ(StatusLineOf(response), c.status) << c.name;
        EXPECT_EQ(BodyOf(response), c.body) << c.name;
        EXPECT_TRUE(closed) << c.name;
    }
    // Just under the limits is still a request.
    const std::string host(4000, 'h');
    const std::string id(3500, 'i');
    EXPECT_EQ(testing_support::Call("getip", {{"id", id}, {"host", host}}), "OK 127.0.0.1 ");
}

TEST(Limits, AHeadThatNeverEndsIsRefusedAndClosed) {
    RunningServer server;
    RawLoopbackClient flood(server.Port());
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
    const auto [response, closed] = flood.ReadUntilClose(15s);
    stop = true;
    sender.join();
    EXPECT_EQ(StatusLineOf(response), "HTTP/1.1 431 Request Header Fields Too Large");
    EXPECT_TRUE(closed) << "the flooding connection is closed";
    ExpectNormalClientServed("after the flood");
}

TEST(Limits, ASlowOrSilentHeadIsClosedAtItsDeadline) {
    auto setup = RunningServer::DefaultSetup();
    setup.FrontEnd.Limits.HeadTimeout = 2s;
    RunningServer server(setup);
    // More silent connections than there are workers: none of them holds anyone up.
    std::vector<std::unique_ptr<RawLoopbackClient>> silent;
    for (int i = 0; i < 40; ++i) {
        silent.push_back(std::make_unique<RawLoopbackClient>(server.Port()));
    }
    RawLoopbackClient trickle(server.Port());
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
    const auto [response, closed] = trickle.ReadUntilClose(10s);
    const auto took = Clock::now() - start;
    sender.join();
    EXPECT_TRUE(closed);
    EXPECT_EQ(response, "") << "a head not done in time gets no reply";
    EXPECT_GE(took, 1500ms) << "the deadline counts from the connection, not each byte";
    for (auto& client : silent) {
        EXPECT_TRUE(client->ReadUntilClose(10s).closed) << "a silent connection is closed too";
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
    ASSERT_EQ(BodyOf(testing_support::RawExchange(server.Port(), report + "7 HTTP/1.0\r\n\r\n")),
              "OK");

    server::Database blocker(server.DatabasePath());
    blocker.Execute("BEGIN IMMEDIATE"); // for less than the service's busy timeout
    RawLoopbackClient client(server.Port());
    ASSERT_TRUE(client.Send(report + "8 HTTP/1.0\r\n\r\n"));
    std::this_thread::sleep_for(2500ms);
    blocker.Execute("COMMIT");
    const auto [response, closed] = client.ReadUntilClose(10s);
    EXPECT_EQ(BodyOf(response), "OK") << "cut off at the head's deadline";
    EXPECT_TRUE(closed);
}

// The reply's deadline bounds a send that makes no progress, not a large one on a slow link:
// the update package reaches a client that reads it steadily for longer than the deadline,
// while a client that only trickles is still cut off.
TEST(Limits, ASteadyDownloadOutlastsTheReplyDeadlineAndATrickleIsCutOff) {
    auto setup = RunningServer::DefaultSetup();
    setup.FrontEnd.Limits.ReplyTimeout = 1s;
    // Beyond what the kernel's buffers on both sides take at once.
    std::string package(12 * 1024 * 1024, 'p');
    package.replace(0, 2, "MZ");
    setup.Offer.PackageOverride = package;
    RunningServer server(setup);
    const std::string request = "GET /bin/corvale/cmd.php?action=dlupdate HTTP/1.0\r\n\r\n";
    struct TCase {
        const char* Name;
        std::size_t Piece;               // read this much...
        std::chrono::milliseconds Pause; // ...then wait this long, until the whole is in
        bool Whole;
    };
    for (const TCase& c :
         {TCase{"steady", 64 * 1024, 5ms, true}, TCase{"trickle", 512, 100ms, false}}) {
        SCOPED_TRACE(c.Name);
        RawLoopbackClient client(server.Port());
        const int small = 16 * 1024;
        setsockopt(client.Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        ASSERT_TRUE(client.Send(request));
        std::string received;
        const auto started = Clock::now();
        // The trickle stops trickling after a few deadlines and takes what was sent at once.
        while (c.Whole || Clock::now() - started < 4s) {
            const std::string piece = client.ReadSome(c.Piece, 10s);
            if (piece.empty()) {
                break;
            }
            received += piece;
            std::this_thread::sleep_for(c.Pause);
        }
        const auto took = Clock::now() - started;
        received += client.ReadUntilClose(30s).bytes;
        if (c.Whole) {
            EXPECT_GT(took, 2s) << "the download did not outlast the deadline; make it longer";
            EXPECT_TRUE(BodyOf(received) == package)
                << BodyOf(received).size() << " of " << package.size() << " bytes";
        } else {
            EXPECT_LT(BodyOf(received).size(), package.size()) << "a trickle is cut off";
        }
    }
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
    std::vector<std::unique_ptr<RawLoopbackClient>> held;
    for (int i = 0; i < 3; ++i) {
        held.push_back(
            std::make_unique<RawLoopbackClient>(server.Port(), "127.0.0.1", "127.0.0.1"));
    }
    ASSERT_EQ(waitForCount(3), 3u);

    {
        RawLoopbackClient oneTooMany(server.Port(), "127.0.0.1", "127.0.0.1");
        oneTooMany.Send("GET /bin/corvale/cmd.php?action=clver HTTP/1.0\r\n\r\n");
        const auto [refused, closed] = oneTooMany.ReadUntilClose(10s);
        EXPECT_EQ(StatusLineOf(refused), "HTTP/1.1 503 Service Unavailable");
        EXPECT_EQ(BodyOf(refused), "ERR Too many connections, try again later");
        EXPECT_TRUE(closed);

        RawLoopbackClient other(server.Port(), "127.0.0.1", "127.0.0.2");
        other.Send("GET /bin/corvale/cmd.php?action=getip HTTP/1.0\r\n\r\n");
        EXPECT_EQ(BodyOf(other.ReadUntilClose(10s).bytes), "OK 127.0.0.2 ")
            << "another address gets its reply";
    }
    // The refusal and the served client count until the server has closed them; the
    // connections past the total are only those held from here on.
    ASSERT_EQ(waitForCount(3), 3u);

    for (const char* from : {"127.0.0.3", "127.0.0.4", "127.0.0.5"}) {
        held.push_back(std::make_unique<RawLoopbackClient>(server.Port(), "127.0.0.1", from));
    }
    ASSERT_EQ(waitForCount(6), 6u);
    RawLoopbackClient pastTheTotal(server.Port(), "127.0.0.1", "127.0.0.6");
    EXPECT_EQ(StatusLineOf(pastTheTotal.ReadUntilClose(10s).bytes),
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
    RawLoopbackClient first(server.Port(), "::1");
    RawLoopbackClient second(server.Port(), "::1");
    ASSERT_TRUE(first.Connected() && second.Connected());
    WaitUntil([&] { return server.FrontEnd().OpenConnections() == 2; });
    RawLoopbackClient third(server.Port(), "::1");
    third.Send("GET /bin/corvale/cmd.php?action=getip HTTP/1.0\r\n\r\n");
    const std::string refused = third.ReadUntilClose(10s).bytes;
    EXPECT_EQ(StatusLineOf(refused), "HTTP/1.1 503 Service Unavailable");
    first.Send("GET /bin/corvale/cmd.php?action=getip HTTP/1.0\r\n\r\n");
    const std::string replied = first.ReadUntilClose(10s).bytes;
    EXPECT_EQ(BodyOf(replied), "OK ::1 ") << "the ones let in get their replies as usual";
}

} // namespace
