// The health probes: liveness answered by any serving process, readiness only while the
// database takes a write, both cheap for a prober that asks every second.

#include "server/Health.h"

#include "server/Storage.h"
#include "tests/server/RunningServer.h"
#include "tests/server/SmallFileSystem.h"
#include "tests/support/HttpText.h"
#include "tests/support/RawLoopbackClient.h"
#include "tests/support/Wait.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using server::Readiness;
using testing_support::BodyOf;
using testing_support::RawExchange;
using testing_support::RawLoopbackClient;
using testing_support::RunningServer;
using testing_support::SmallFileSystem;
using testing_support::StatusLineOf;
using testing_support::WaitUntil;

std::string Probe(std::uint16_t port, const std::string& path) {
    return RawExchange(port, "GET " + path + " HTTP/1.0\r\n\r\n");
}

TEST(Readiness, ChecksAtMostOnceAnIntervalAndKeepsTheOutcomeBetween) {
    testing_support::TempFolder folder;
    SmallFileSystem small(folder / "small");
    if (!small.Mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here (tests are meant to run as root)";
    }
    server::Storage storage(folder / "small/ready.db", server::LowestCostForTests());
    auto now = std::make_shared<Readiness::Clock::time_point>(Readiness::Clock::now());
    Readiness readiness(storage, 1s, [now] { return *now; });
    ASSERT_TRUE(readiness.Check());

    const std::string filler = folder / "small/filler";
    small.Fill(filler);
    EXPECT_TRUE(readiness.Check()) << "checked again within the interval";
    bool refused = false;
    for (int second = 0; second < 2000 && !refused; ++second) {
        *now += 1s;
        refused = !readiness.Check();
    }
    ASSERT_TRUE(refused) << "ready throughout on a full file system";
    EXPECT_FALSE(readiness.Check().Failure().Message.empty()) << "a refusal says why";

    std::filesystem::remove(filler);
    *now += 999ms;
    EXPECT_FALSE(readiness.Check()) << "the refusal stands for its interval";
    *now += 1ms;
    EXPECT_TRUE(readiness.Check()) << "not ready again once space returned";
}

TEST(Probes, AreAnsweredOnTheServiceListener) {
    RunningServer server;
    struct Case {
        const char* request;
        const char* status;
        std::string body;
    };
    const Case kCases[] = {
        {"GET /healthz HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK", "ok\n"},
        {"GET /healthz?from=balancer HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 200 OK", "ok\n"},
        {"HEAD /healthz HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK", ""},
        {"GET /readyz HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK", "ready\n"},
        {"HEAD /readyz HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK", ""},
        {"POST /readyz HTTP/1.0\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 405 Method Not Allowed",
         "ERR Method not allowed"},
        {"GET /healthz/more HTTP/1.0\r\n\r\n", "HTTP/1.1 404 Not Found", "ERR Not found"},
    };
    for (const auto& [request, status, body] : kCases) {
        const std::string reply = RawExchange(server.Port(), request);
        EXPECT_EQ(StatusLineOf(reply), status) << request;
        EXPECT_EQ(BodyOf(reply), body) << request;
    }
    EXPECT_NE(Probe(server.Port(), "/readyz").find("Cache-Control: no-store\r\n"),
              std::string::npos);
}

TEST(Probes, ReadinessFollowsWhetherTheDatabaseTakesAWrite) {
    testing_support::TempFolder folder;
    SmallFileSystem small(folder / "small");
    if (!small.Mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here (tests are meant to run as root)";
    }
    auto setup = RunningServer::DefaultSetup();
    setup.Database = folder / "small/service.db";
    setup.FrontEnd.ReadinessKept = 10ms; // each probe of the wait below may check
    RunningServer server(setup);
    ASSERT_EQ(BodyOf(Probe(server.Port(), "/readyz")), "ready\n");

    const std::string filler = folder / "small/filler";
    small.Fill(filler);
    std::string reply;
    EXPECT_TRUE(WaitUntil([&] {
        reply = Probe(server.Port(), "/readyz");
        return StatusLineOf(reply) == "HTTP/1.1 503 Service Unavailable";
    })) << reply;
    EXPECT_EQ(BodyOf(reply).rfind("not ready: ", 0), 0u) << reply;
    EXPECT_EQ(BodyOf(Probe(server.Port(), "/healthz")), "ok\n") << "alive while not ready";

    std::filesystem::remove(filler);
    EXPECT_TRUE(WaitUntil([&] {
        reply = Probe(server.Port(), "/readyz");
        return StatusLineOf(reply) == "HTTP/1.1 200 OK";
    })) << reply;
    EXPECT_EQ(testing_support::Call("clver"), "OK 0\n3\n11\n25") << "the service goes on";
}

TEST(Probes, AreLeftOutOfTheAccessLog) {
    std::ostringstream log;
    {
        auto setup = RunningServer::DefaultSetup();
        setup.FrontEnd.AccessLog = &log;
        RunningServer server(setup);
        for (const char* path : {"/healthz", "/readyz", "/healthz?x=1", "/readyz"}) {
            ASSERT_EQ(StatusLineOf(Probe(server.Port(), path)), "HTTP/1.1 200 OK") << path;
        }
        ASSERT_EQ(testing_support::Call("clver"), "OK 0\n3\n11\n25");
    } // stopped: every log line is written
    EXPECT_EQ(log.str(), "127.0.0.1 \"GET /bin/corvale/cmd.php?action=clver\" 200 12\n");
}

TEST(Probes, AreHeardWhenTheirAddressHasAllItsConnections) {
    auto setup = RunningServer::DefaultSetup();
    setup.FrontEnd.Limits.MaxConnectionsPerAddress = 2;
    RunningServer server(setup);
    std::vector<std::unique_ptr<RawLoopbackClient>> held;
    for (int i = 0; i < 2; ++i) {
        held.push_back(std::make_unique<RawLoopbackClient>(server.Port()));
    }
    ASSERT_TRUE(WaitUntil([&] { return server.FrontEnd().OpenConnections() == 2; }));

    struct Case {
        const char* request;
        const char* status;
    };
    const Case kCases[] = {
        {"GET /healthz HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK"},
        {"GET /readyz HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK"},
        {"HEAD /readyz HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK"},
        // Anything else from that address is still refused, a body even before it is read.
        {"GET /bin/corvale/cmd.php?action=clver HTTP/1.0\r\n\r\n",
         "HTTP/1.1 503 Service Unavailable"},
        {"POST /healthz HTTP/1.0\r\nContent-Length: 10\r\n\r\n",
         "HTTP/1.1 503 Service Unavailable"},
    };
    for (const auto& [request, status] : kCases) {
        EXPECT_EQ(StatusLineOf(RawExchange(server.Port(), request)), status) << request;
    }

    // Over the cap, a connection that sends nothing has no more time than a refusal.
    RawLoopbackClient silent(server.Port());
    EXPECT_TRUE(silent.ReadUntilClose(testing_support::Scaled(8s)).closed)
        << "a silent connection over the cap kept its place";
    held.clear();
    EXPECT_TRUE(WaitUntil([&] { return server.FrontEnd().OpenConnections() == 0; }));
}

} // namespace
