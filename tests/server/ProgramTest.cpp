// The corvale-server program itself, started as a child process.

#include "core/uEndpoint.h"
#include "core/uTools.h"
#include "tests/server/RunningServer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HttpText.h"

#include <csignal>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

// The program with its standard output piped to the test.
class Child : public testing_support::ChildProcess {
public:
    explicit Child(const std::vector<std::string>& args)
        : ChildProcess(CORVALE_SERVER_PROGRAM, args, {.PipeOutput = true}) {}
    // The exit code, or -1 when it did not end in time.
    int Wait() { return WaitForExit().value_or(-1); }
};

TEST(Program, HelpAndUsageErrors) {
    Child help({"--help"});
    EXPECT_NE(help.ReadAll().find("Usage: corvale-server"), std::string::npos);
    EXPECT_EQ(help.Wait(), 0);

    Child wrong({"--bogus"});
    EXPECT_EQ(wrong.Wait(), 2);
    Child extra({"serve", "now"});
    EXPECT_EQ(extra.Wait(), 2);
}

TEST(Program, ServesUntilTerminatedAndKeepsItsData) {
    testing_support::TempFolder folder;
    const std::string database = folder / "program.db";
    {
        Child add({"--db", database, "add-account", "jdoe", "secret"});
        EXPECT_EQ(add.Wait(), 0);
    }
    Child serve({"--db", database, "--listen", "127.0.0.1:0", "--offer-version", "0.3.12.30"});
    const std::string banner = serve.ReadLine();
    const std::string prefix = "corvale-server listening on 127.0.0.1:";
    ASSERT_EQ(banner.rfind(prefix, 0), 0u) << banner;
    const auto port = static_cast<std::uint16_t>(std::stoi(banner.substr(prefix.size())));
    SetServiceEndpoint({"127.0.0.1", port});

    EXPECT_EQ(ServiceCall(ServiceRequestUrl("clver")), "OK 0\n3\n12\n30");
    EXPECT_EQ(ServiceCall(ServiceRequestUrl("setip", {{"id", "jdoe"},
                                                      {"pswd", "UU9qT3doRVNhdTFWRnFEUQ=="},
                                                      {"host", "PC"},
                                                      {"ip", "192.0.2.7"},
                                                      {"v", "0.3.11.25"}})),
              "ERR Invalid ID or password");

    serve.Signal(SIGTERM);
    EXPECT_EQ(serve.Wait(), 0);
    EXPECT_EQ(ServiceCall(ServiceRequestUrl("clver")), std::string(kServerTimeoutReply))
        << "nothing listens any more";

    Child list({"--db", database, "list-accounts"});
    EXPECT_EQ(list.ReadLine().rfind("jdoe\t0\t", 0), 0u);
    EXPECT_EQ(list.Wait(), 0);
}

// The program's own wiring: the probes on its listener, its counters on the metrics socket.
TEST(Program, ServesProbesAndMetricsWhenAsked) {
    testing_support::TempFolder folder;
    Child serve({"--db", folder / "program.db", "--listen", "127.0.0.1:0", "--metrics-listen",
                 "127.0.0.1:0"});
    const auto portAfter = [](const std::string& line, const std::string& prefix) {
        EXPECT_EQ(line.rfind(prefix, 0), 0u) << line;
        return line.rfind(prefix, 0) == 0
                   ? static_cast<std::uint16_t>(std::stoi(line.substr(prefix.size())))
                   : std::uint16_t{0};
    };
    const std::uint16_t metrics =
        portAfter(serve.ReadLine(), "corvale-server metrics on 127.0.0.1:");
    const std::uint16_t port =
        portAfter(serve.ReadLine(), "corvale-server listening on 127.0.0.1:");
    ASSERT_NE(metrics, 0);
    ASSERT_NE(port, 0);
    using testing_support::BodyOf;
    using testing_support::RawExchange;
    EXPECT_EQ(BodyOf(RawExchange(port, "GET /healthz HTTP/1.0\r\n\r\n")), "ok\n");
    EXPECT_EQ(BodyOf(RawExchange(port, "GET /readyz HTTP/1.0\r\n\r\n")), "ready\n");
    const std::string text = BodyOf(RawExchange(metrics, "GET /metrics HTTP/1.0\r\n\r\n"));
    EXPECT_NE(text.find("corvale_requests_total{action=\"probe\",outcome=\"ok\"} 2\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("corvale_build_info{version=\""), std::string::npos) << text;
    serve.Signal(SIGTERM);
    EXPECT_EQ(serve.Wait(), 0);
}

TEST(Program, PortInUseFails) {
    testing_support::RunningServer occupant;
    Child serve({"--db", occupant.Folder() / "second.db", "--listen",
                 "127.0.0.1:" + std::to_string(occupant.Port())});
    EXPECT_EQ(serve.Wait(), 1);
}

} // namespace
