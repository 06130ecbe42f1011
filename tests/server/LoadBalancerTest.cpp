// The client's round through a real load balancer (haproxy) in front of two instances on one
// PostgreSQL database: it works through either, and goes on when one instance is gone.

#include "core/uEndpoint.h"
#include "tests/server/RunningServer.h"
#include "tests/server/TestEngines.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LoopbackSocket.h"
#include "tests/support/Wait.h"
#include "util/uBase64.h"

#include <gtest/gtest.h>

namespace {

using testing_support::EngineKind;
using testing_support::RunningServer;

std::string BalancerConfig(std::uint16_t port, std::uint16_t a, std::uint16_t b) {
    const auto server = [](const char* name, std::uint16_t to) {
        return std::string("    server ") + name + " 127.0.0.1:" + std::to_string(to) +
               " check inter 500ms fall 3 rise 1\n";
    };
    return "defaults\n"
           "    mode http\n"
           "    timeout connect 2s\n"
           "    timeout client 20s\n"
           "    timeout server 5s\n"
           "    timeout check 5s\n"
           "    retries 3\n"
           "    option redispatch\n"
           // A request that met the instance as it went is sent to the other one.
           "    retry-on all-retryable-errors\n"
           "    option http-server-close\n"
           "frontend corvale\n"
           "    bind 127.0.0.1:" +
           std::to_string(port) +
           "\n"
           "    default_backend instances\n"
           "backend instances\n"
           "    balance roundrobin\n"
           "    option httpchk GET /bin/corvale/cmd.php?action=clver\n" +
           server("a", a) + server("b", b);
}

// The client's steady round: the version check, the address check, the report and the
// buddies' hosts; empty text when every step answered as it should, else what went wrong.
std::string ClientRound(const std::string& pswd, const std::string& address) {
    const auto check = [](const std::string& step, const std::string& reply,
                          const std::string& expected) {
        return reply.rfind(expected, 0) == 0 ? std::string() : step + ": " + reply + "\n";
    };
    std::string wrong;
    wrong += check("clver", testing_support::Call("clver"), "OK ");
    wrong +=
        check("getip",
              testing_support::Call(
                  "getip", {{"id", "jdoe"}, {"pswd", pswd}, {"host", "PC"}, {"v", "0.3.11.25"}}),
              "OK 127.0.0.1");
    wrong += check(
        "setip",
        testing_support::Call(
            "setip",
            {{"id", "jdoe"}, {"pswd", pswd}, {"host", "PC"}, {"ip", address}, {"v", "0.3.11.25"}}),
        "OK");
    wrong += check(
        "getbuddies",
        testing_support::Call("getbuddies", {{"id", "jdoe"}, {"pswd", pswd}, {"v", "0.3.11.25"}}),
        "OK");
    return wrong;
}

TEST(LoadBalancer, TheClientsRoundWorksThroughItAndGoesOnWhenAnInstanceIsGone) {
    if (const auto missing = testing_support::EngineMissingReason(EngineKind::Postgres);
        !missing.empty()) {
        GTEST_SKIP() << missing;
    }
    const std::string haproxy = testing_support::FindProgram("haproxy");
    if (haproxy.empty()) {
        GTEST_SKIP() << "haproxy is not installed (scripts/setup installs it)";
    }
    auto a = std::make_unique<RunningServer>(RunningServer::SetupFor(EngineKind::Postgres));
    auto setup = RunningServer::DefaultSetup();
    setup.Database = a->DatabasePath();
    auto b = std::make_unique<RunningServer>(setup);
    a->AddAccount("jdoe", "secret");
    const std::string pswd = ScramblePassword("secret");

    const std::uint16_t port = testing_support::LoopbackSocket::UnusedPort();
    const std::string config = a->Folder() / "haproxy.cfg";
    testing_support::WriteFile(config, BalancerConfig(port, a->Port(), b->Port()));
    testing_support::ChildProcess balancer(haproxy, {"-f", config, "-db"},
                                           {.OutputFile = a->Folder() / "haproxy.log"});
    SetServiceEndpoint({"127.0.0.1", port});
    ASSERT_TRUE(testing_support::WaitUntil([&] {
        return testing_support::Call("clver").rfind("OK ", 0) == 0;
    })) << testing_support::ReadText(a->Folder() / "haproxy.log");

    // Round robin: consecutive rounds meet both instances.
    for (int i = 1; i <= 6; ++i) {
        EXPECT_EQ(ClientRound(pswd, "192.0.2." + std::to_string(i)), "") << "round " << i;
    }
    const auto account = *a->Storage().FindAccount("jdoe").Value();
    EXPECT_EQ(a->Storage().RecordedAddress(account, "PC").Value(), "192.0.2.6");

    b.reset(); // one instance gone, as when its box fails
    for (int i = 7; i <= 12; ++i) {
        EXPECT_EQ(ClientRound(pswd, "192.0.2." + std::to_string(i)), "") << "round " << i;
    }
    EXPECT_EQ(a->Storage().RecordedAddress(account, "PC").Value(), "192.0.2.12");
    balancer.Stop();
}

} // namespace
