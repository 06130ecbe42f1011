// The service's counters as a scraper reads them from the metrics socket: they match what was
// sent, they are well-formed for the scrapers' own checker, and they name no user, host or
// address.

#include "server/Metrics.h"

#include "server/CommandLine.h"
#include "server/MetricsListener.h"
#include "tests/server/RunningServer.h"
#include "tests/server/SmallFileSystem.h"
#include "tests/support/HttpText.h"
#include "tests/support/RawLoopbackClient.h"
#include "tests/support/Wait.h"
#include "util/uBase64.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testing_support::BodyOf;
using testing_support::Call;
using testing_support::RawExchange;
using testing_support::RawLoopbackClient;
using testing_support::RunningServer;
using testing_support::StatusLineOf;
using testing_support::WaitUntil;

// Every sample of an exposition: "name{labels}" to its value.
std::map<std::string, double> Samples(const std::string& text) {
    std::map<std::string, double> samples;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const auto blank = line.rfind(' ');
        samples[line.substr(0, blank)] = std::stod(line.substr(blank + 1));
    }
    return samples;
}

// The service with its counters and a metrics socket of its own.
class MetricsTest : public ::testing::Test {
protected:
    std::unique_ptr<RunningServer> StartServer(server::HttpLimits limits = {}) {
        auto setup = RunningServer::DefaultSetup();
        setup.FrontEnd.Counted = &metrics_;
        setup.FrontEnd.Limits = limits;
        auto running = std::make_unique<RunningServer>(setup);
        metricsPort_ = listener_.Bind("127.0.0.1", 0);
        EXPECT_NE(metricsPort_, 0);
        listener_.Start();
        return running;
    }
    std::string Scrape(const std::string& method = "GET", const std::string& path = "/metrics") {
        return RawExchange(metricsPort_, method + ' ' + path + " HTTP/1.0\r\n\r\n");
    }

    server::Metrics metrics_{"0.3.11.25"};
    server::MetricsListener listener_{metrics_};
    std::uint16_t metricsPort_ = 0;
};

TEST(Metrics, RequestsAreCountedUnderAFixedSetOfWords) {
    const std::pair<const char*, const char*> kCases[] = {
        {"/bin/corvale/cmd.php?action=getip&host=PC", "getip"},
        {"/bin/corvale/cmd.php?action=setip&id=jdoe&pswd=x", "setip"},
        {"/bin/corvale/cmd.php?id=jdoe&action=setip", "other"}, // refused: action comes first
        {"/bin/corvale/cmd.php?action=dlupdate", "dlupdate"},
        {"/bin/corvale/cmd.php?action=jdoe-was-here", "other"}, // what a client makes up
        {"/bin/corvale/cmd.php?action=get%69p", "other"},
        {"/bin/corvale/cmd.php", "other"},
        {"/healthz?x=1", "probe"},
        {"/readyz", "probe"},
        {"/tools/corvale/index.html", "page"},
        {"/no/such/page", "page"},
    };
    for (const auto& [target, kind] : kCases) {
        EXPECT_EQ(server::RequestKind(target), kind) << target;
    }
}

TEST_F(MetricsTest, AScrapeDuringALoadCountsWhatWasSent) {
    auto server = StartServer();
    server->AddAccount("jdoe", "secret");
    const std::string stored = ScramblePassword("secret");
    constexpr int kClients = 4;
    constexpr int kEach = 10;
    std::atomic<bool> loading{true};
    std::vector<std::string> scrapes;
    std::thread scraper([&] {
        while (loading) {
            scrapes.push_back(BodyOf(Scrape()));
            std::this_thread::sleep_for(20ms);
        }
    });
    std::vector<std::thread> clients;
    std::atomic<int> unexpected{0};
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            for (int i = 0; i < kEach; ++i) {
                // A new address each time: no report is skipped as one already recorded.
                const std::string address = "192.0.2." + std::to_string(c * kEach + i + 1);
                unexpected += Call("setip", {{"id", "jdoe"},
                                             {"pswd", stored},
                                             {"host", "secret-host"},
                                             {"ip", address}}) != "OK";
                unexpected += Call("clver") != "OK 0\n3\n11\n25";
                unexpected += Call("zap").rfind("ERR", 0) != 0;
            }
        });
    }
    constexpr int kWrong = 5; // fewer than the throttle lets through
    for (int i = 0; i < kWrong; ++i) {
        unexpected += Call("setip", {{"id", "jdoe"},
                                     {"pswd", ScramblePassword("wrong")},
                                     {"host", "secret-host"},
                                     {"ip", "192.0.2.7"}})
                          .rfind("ERR", 0) != 0;
    }
    for (auto& client : clients) {
        client.join();
    }
    loading = false;
    scraper.join();
    ASSERT_EQ(unexpected, 0);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(StatusLineOf(RawExchange(server->Port(), "GET /healthz HTTP/1.0\r\n\r\n")),
                  "HTTP/1.1 200 OK");
    }
    ASSERT_EQ(StatusLineOf(RawExchange(server->Port(), "GET /nothing HTTP/1.0\r\n\r\n")),
              "HTTP/1.1 404 Not Found");

    const std::string reply = Scrape();
    ASSERT_EQ(StatusLineOf(reply), "HTTP/1.1 200 OK");
    EXPECT_NE(reply.find("Content-Type: text/plain; version=0.0.4"), std::string::npos);
    const std::string text = BodyOf(reply);
    auto samples = Samples(text);
    const double sent = kClients * kEach;
    EXPECT_EQ(samples[R"(corvale_requests_total{action="setip",outcome="ok"})"], sent) << text;
    EXPECT_EQ(samples[R"(corvale_requests_total{action="clver",outcome="ok"})"], sent);
    EXPECT_EQ(samples[R"(corvale_requests_total{action="other",outcome="error"})"], sent);
    EXPECT_EQ(samples[R"(corvale_requests_total{action="probe",outcome="ok"})"], 3);
    EXPECT_EQ(samples[R"(corvale_requests_total{action="page",outcome="error"})"], 1);
    EXPECT_EQ(samples[R"(corvale_requests_total{action="setip",outcome="error"})"], kWrong);
    const double all = 3 * sent + kWrong + 4;
    EXPECT_EQ(samples["corvale_request_duration_seconds_count"], all);
    EXPECT_EQ(samples[R"(corvale_request_duration_seconds_bucket{le="+Inf"})"], all);
    EXPECT_GT(samples["corvale_request_duration_seconds_sum"], 0);
    double previous = 0;
    for (double bound : server::Metrics::kLatencyBounds) {
        char label[64];
        std::snprintf(label, sizeof label, "corvale_request_duration_seconds_bucket{le=\"%.9g\"}",
                      bound);
        ASSERT_EQ(samples.count(label), 1u) << label;
        EXPECT_GE(samples[label], previous) << label << ": buckets are cumulative";
        previous = samples[label];
    }
    EXPECT_EQ(samples[R"(corvale_build_info{version="0.3.11.25"})"], 1);

    // Every login was proven from memory or by a full check, the wrong ones by a full check.
    const auto fullChecks =
        static_cast<double>(server->Actions().LoginsForTests().FullChecksForTests());
    EXPECT_EQ(samples["corvale_password_checks_total"], fullChecks);
    EXPECT_EQ(samples["corvale_logins_failed_total"], kWrong);
    EXPECT_EQ(samples["corvale_logins_remembered_total"] + fullChecks - kWrong, sent);
    EXPECT_GT(samples["corvale_logins_remembered_total"], 0);
    // The reports that went through the writing thread, in its batches.
    EXPECT_GT(samples["corvale_reports_written_total"], 0);
    EXPECT_LE(samples["corvale_reports_written_total"], sent);
    EXPECT_EQ(samples["corvale_report_batch_size_sum"], samples["corvale_reports_written_total"]);
    EXPECT_GE(samples["corvale_report_batch_size_count"], 1);
    EXPECT_EQ(samples["corvale_database_errors_total"], 0);

    // Each scrape under way saw counts no higher than the final ones, and never going back.
    double seen = 0;
    for (const std::string& during : scrapes) {
        const double now = Samples(during)["corvale_request_duration_seconds_count"];
        EXPECT_GE(now, seen);
        EXPECT_LE(now, all);
        seen = now;
    }
    for (const char* secret : {"jdoe", "secret-host", "192.0.2.", "127.0.0.1", stored.c_str()}) {
        EXPECT_EQ(text.find(secret), std::string::npos) << secret << " in\n" << text;
    }

    // The scrapers' own checker, when it is installed.
    if (std::system("command -v promtool >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "promtool is not installed (Debian's prometheus package)";
    }
    testing_support::TempFolder folder;
    const std::string file = folder / "metrics.txt";
    std::ofstream(file) << text;
    const std::string command = "promtool check metrics < " + file + " > " + file + ".out 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << [&] {
        std::ifstream out(file + ".out");
        return std::string(std::istreambuf_iterator<char>(out), {});
    }();
}

TEST_F(MetricsTest, OpenConnectionsAndRefusalsByLimit) {
    server::HttpLimits limits;
    limits.MaxConnectionsPerAddress = 2;
    limits.MaxConnections = 3;
    auto server = StartServer(limits);
    std::vector<std::unique_ptr<RawLoopbackClient>> held;
    for (int i = 0; i < 2; ++i) {
        held.push_back(std::make_unique<RawLoopbackClient>(server->Port()));
    }
    ASSERT_TRUE(WaitUntil([&] { return server->FrontEnd().OpenConnections() == 2; }));
    EXPECT_EQ(Samples(BodyOf(Scrape()))["corvale_open_connections"], 2);

    ASSERT_EQ(StatusLineOf(RawExchange(server->Port(),
                                       "GET /bin/corvale/cmd.php?action=clver HTTP/1.0\r\n\r\n")),
              "HTTP/1.1 503 Service Unavailable");
    // The refusal counts until the server has closed it.
    ASSERT_TRUE(WaitUntil([&] { return server->FrontEnd().OpenConnections() == 2; }));
    held.push_back(std::make_unique<RawLoopbackClient>(server->Port(), "127.0.0.1", "127.0.0.2"));
    ASSERT_TRUE(WaitUntil([&] { return server->FrontEnd().OpenConnections() == 3; }));
    RawLoopbackClient pastTheTotal(server->Port(), "127.0.0.1", "127.0.0.3");
    EXPECT_EQ(StatusLineOf(pastTheTotal.ReadUntilClose(10s).bytes),
              "HTTP/1.1 503 Service Unavailable");

    auto samples = Samples(BodyOf(Scrape()));
    EXPECT_EQ(samples[R"(corvale_connections_refused_total{limit="connections_per_address"})"], 1);
    EXPECT_EQ(samples[R"(corvale_connections_refused_total{limit="connections_in_all"})"], 1);
    held.clear();
    ASSERT_TRUE(WaitUntil([&] { return server->FrontEnd().OpenConnections() == 0; }));
    EXPECT_EQ(Samples(BodyOf(Scrape()))["corvale_open_connections"], 0);
}

TEST_F(MetricsTest, TheSocketServesOnlyTheMetrics) {
    auto server = StartServer();
    struct Case {
        const char* method;
        const char* path;
        const char* status;
        bool withBody;
    };
    const Case kCases[] = {
        {"GET", "/metrics", "HTTP/1.1 200 OK", true},
        {"HEAD", "/metrics", "HTTP/1.1 200 OK", false},
        {"POST", "/metrics", "HTTP/1.1 405 Method Not Allowed", true},
        {"GET", "/bin/corvale/cmd.php?action=clver", "HTTP/1.1 404 Not Found", true},
        {"GET", "/healthz", "HTTP/1.1 404 Not Found", true},
    };
    for (const auto& [method, path, status, withBody] : kCases) {
        const std::string reply = Scrape(method, path);
        EXPECT_EQ(StatusLineOf(reply), status) << method << ' ' << path;
        EXPECT_EQ(BodyOf(reply).empty(), !withBody) << method << ' ' << path;
    }
    EXPECT_EQ(
        Samples(BodyOf(Scrape())).count(R"(corvale_requests_total{action="clver",outcome="ok"})"),
        0u)
        << "a scrape is not a request of the service";
}

TEST_F(MetricsTest, AFullDiskCountsDatabaseErrorsAndNoReportAsWritten) {
    testing_support::TempFolder folder;
    testing_support::SmallFileSystem small(folder / "small");
    if (!small.Mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here (tests are meant to run as root)";
    }
    auto setup = RunningServer::DefaultSetup();
    setup.Database = folder / "small/service.db";
    setup.FrontEnd.Counted = &metrics_;
    RunningServer server(setup);
    metricsPort_ = listener_.Bind("127.0.0.1", 0);
    ASSERT_NE(metricsPort_, 0);
    listener_.Start();
    server.AddAccount("jdoe", "secret");
    const auto report = [&](int n) {
        return Call("setip", {{"id", "jdoe"},
                              {"pswd", ScramblePassword("secret")},
                              {"host", "PC"},
                              {"ip", "192.0.2." + std::to_string(n)}});
    };
    ASSERT_EQ(report(1), "OK"); // proven once: the next logins come from memory
    small.Fill(folder / "small/filler");
    int failed = 0;
    for (int n = 2; n < 200 && failed == 0; ++n) {
        const std::string answer = report(n);
        failed += answer != "OK";
        if (answer != "OK") {
            EXPECT_EQ(answer.rfind("ERR", 0), 0u) << answer;
        }
    }
    ASSERT_GT(failed, 0) << "every report was answered OK on a full file system";
    auto samples = Samples(BodyOf(Scrape()));
    EXPECT_GE(samples["corvale_database_errors_total"], 1);
    EXPECT_EQ(samples[R"(corvale_requests_total{action="setip",outcome="error"})"], 1);
}

TEST(Metrics, TheMetricsSocketIsOptInOnTheCommandLine) {
    const auto off = server::ParseCommandLine({});
    ASSERT_TRUE(off);
    EXPECT_FALSE(off->MetricsListen);
    const auto on = server::ParseCommandLine({"--metrics-listen", "127.0.0.1:9187"});
    ASSERT_TRUE(on);
    ASSERT_TRUE(on->MetricsListen);
    EXPECT_EQ(on->MetricsListen->Host, "127.0.0.1");
    EXPECT_EQ(on->MetricsListen->Port, 9187);
    const auto wrong = server::ParseCommandLine({"--metrics-listen=[::1"});
    ASSERT_FALSE(wrong);
    EXPECT_NE(wrong.Failure().Message.find("--metrics-listen"), std::string::npos);
}

} // namespace
