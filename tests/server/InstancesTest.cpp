// Two instances of the service on one PostgreSQL database, each with its own front end and
// memory view: what one of them (or an administration command) changes, the other one serves.

#include "server/AdminCommands.h"
#include "server/CommandLine.h"
#include "tests/server/RunningServer.h"
#include "tests/server/TestEngines.h"
#include "tests/support/Wait.h"
#include "util/uBase64.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

using testing_support::EngineKind;
using testing_support::RunningServer;
using testing_support::ServerSetup;
using namespace std::chrono_literals;

// One service call to the instance on `port`: the reply's body.
std::string Ask(std::uint16_t port, const std::string& query) {
    const std::string response = testing_support::RawExchange(
        port, "GET /bin/corvale/cmd.php?" + query + " HTTP/1.0\r\n\r\n");
    const auto body = response.find("\r\n\r\n");
    return body == std::string::npos ? "(no reply)" : response.substr(body + 4);
}

std::string SetIp(std::uint16_t port, const std::string& id, const std::string& pswd,
                  const std::string& host, const std::string& ip) {
    return Ask(port, "action=setip&id=" + id + "&pswd=" + pswd + "&host=" + host + "&ip=" + ip +
                         "&v=0.3.11.25");
}

class Instances : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto missing = testing_support::EngineMissingReason(EngineKind::Postgres);
            !missing.empty()) {
            GTEST_SKIP() << missing;
        }
        a_ = std::make_unique<RunningServer>(RunningServer::SetupFor(EngineKind::Postgres));
        ServerSetup shared = RunningServer::DefaultSetup();
        shared.Database = a_->DatabasePath();
        b_ = std::make_unique<RunningServer>(shared);
        a_->AddAccount("jdoe", "secret");
        a_->AddAccount("amy", "p+ss");
    }
    RunningServer& A() { return *a_; }
    RunningServer& B() { return *b_; }

    const std::string jdoe_ = ScramblePassword("secret");
    const std::string amy_ = ScramblePassword("p+ss");

private:
    std::unique_ptr<RunningServer> a_;
    std::unique_ptr<RunningServer> b_;
};

TEST_F(Instances, WhatOneInstanceOrAnAdministrationCommandChangesTheOtherServes) {
    ASSERT_EQ(SetIp(A().Port(), "jdoe", jdoe_, "OFFICE", "192.0.2.7"), "OK");
    const auto account = *A().Storage().FindAccount("jdoe").Value();
    const auto number = std::to_string(A().Storage().HostsOf(account).Value().at(0).Number);
    ASSERT_EQ(Ask(A().Port(), "action=invite&id=jdoe&pswd=" + jdoe_ + "&invid=amy&hl=" + number +
                                  "&v=0.3.11.25"),
              "OK");
    EXPECT_NE(Ask(B().Port(), "action=getbuddies&id=amy&pswd=" + amy_ + "&v=0.3.11.25")
                  .find("jdoe,192.0.2.7,"),
              std::string::npos);
    EXPECT_TRUE(testing_support::WaitUntil([&] {
        return Ask(B().Port(), "action=getip&id=jdoe&pswd=" + jdoe_ + "&host=office") ==
               "OK 127.0.0.1 192.0.2.7";
    })) << "the other instance's view has the report";

    // B remembers the login; a new password set through A ends it there too.
    ASSERT_EQ(SetIp(B().Port(), "jdoe", jdoe_, "OFFICE", "192.0.2.8"), "OK");
    const std::string changed = ScramblePassword("changed");
    ASSERT_TRUE(A().Storage().SetPassword("jdoe", changed).Value());
    EXPECT_TRUE(testing_support::WaitUntil([&] {
        return SetIp(B().Port(), "jdoe", jdoe_, "OFFICE", "192.0.2.9") ==
               "ERR Invalid ID or password";
    }));
    EXPECT_EQ(SetIp(B().Port(), "jdoe", changed, "OFFICE", "192.0.2.9"), "OK");

    // An administration command is one more connection of its own.
    const auto line =
        server::ParseCommandLine({"--db", A().DatabasePath(), "delete-account", "amy"});
    ASSERT_TRUE(line);
    std::istringstream in;
    std::ostringstream out, err;
    ASSERT_EQ(server::RunAdminCommand(*line, testing_support::ClientVersion(), in, out, err),
              server::kExitOk)
        << err.str();
    EXPECT_TRUE(testing_support::WaitUntil([&] {
        return Ask(B().Port(), "action=getbuddies&id=amy&pswd=" + amy_ + "&v=0.3.11.25") ==
               "ERR Invalid ID or password";
    }));
}

TEST_F(Instances, BothReportingOneHostAtOnceLoseNoAcknowledgedReport) {
    constexpr int kReports = 30;
    std::vector<std::string> refused;
    std::mutex refusedMutex;
    const auto storm = [&](std::uint16_t port, const std::string& prefix) {
        for (int i = 1; i <= kReports; ++i) {
            const std::string reply = SetIp(port, "jdoe", jdoe_, "PC", prefix + std::to_string(i));
            if (reply != "OK") {
                std::lock_guard lock(refusedMutex);
                refused.push_back(prefix + std::to_string(i) + ": " + reply);
            }
        }
    };
    std::thread throughA(storm, A().Port(), "192.0.2.");
    std::thread throughB(storm, B().Port(), "198.51.100.");
    throughA.join();
    throughB.join();
    EXPECT_TRUE(refused.empty()) << refused.front();
    const auto account = *A().Storage().FindAccount("jdoe").Value();
    const auto hosts = A().Storage().HostsOf(account).Value();
    ASSERT_EQ(hosts.size(), 1u);
    const std::string last = hosts[0].Address;
    EXPECT_TRUE(last == "192.0.2.30" || last == "198.51.100.30") << last;

    ASSERT_EQ(SetIp(A().Port(), "jdoe", jdoe_, "PC", "203.0.113.1"), "OK");
    ASSERT_EQ(SetIp(B().Port(), "jdoe", jdoe_, "PC", "203.0.113.2"), "OK");
    EXPECT_EQ(A().Storage().RecordedAddress(account, "PC").Value(), "203.0.113.2")
        << "the later report holds";
    EXPECT_TRUE(testing_support::WaitUntil([&] {
        return Ask(A().Port(), "action=getip&id=jdoe&pswd=" + jdoe_ + "&host=PC") ==
               "OK 127.0.0.1 203.0.113.2";
    }));
}

// The address of report number `n` of a storm, and back.
std::string StormAddress(int n) {
    return "10.0." + std::to_string(n / 250) + "." + std::to_string(n % 250 + 1);
}
int StormNumber(const std::string& address) {
    int a = 0, b = 0, c = 0, d = 0;
    return std::sscanf(address.c_str(), "%d.%d.%d.%d", &a, &b, &c, &d) == 4 ? c * 250 + d - 1 : -1;
}

TEST_F(Instances, ADatabaseRestartUnderAReportStormLosesNoAcknowledgedReport) {
    std::atomic<bool> stop{false};
    struct Reporter {
        std::uint16_t Port = 0;
        std::string Host;
        std::atomic<int> LastOk{-1};
        std::atomic<int> Failed{0};
    };
    std::vector<std::unique_ptr<Reporter>> reporters;
    for (const auto port : {A().Port(), B().Port(), A().Port(), B().Port()}) {
        auto reporter = std::make_unique<Reporter>();
        reporter->Port = port;
        reporter->Host = "H" + std::to_string(reporters.size());
        reporters.push_back(std::move(reporter));
    }
    std::vector<std::thread> threads;
    for (auto& reporter : reporters) {
        threads.emplace_back([&, r = reporter.get()] {
            for (int n = 0; !stop && n < 200'000; ++n) {
                if (SetIp(r->Port, "jdoe", jdoe_, r->Host, StormAddress(n)) == "OK") {
                    r->LastOk = n;
                } else {
                    ++r->Failed;
                }
            }
        });
    }
    // Generous: the instances pause up to five seconds between attempts to connect.
    const auto everyoneGot = [&](int past) {
        return testing_support::WaitUntil(
            [&] {
                for (const auto& r : reporters) {
                    if (r->LastOk <= past) {
                        return false;
                    }
                }
                return true;
            },
            30s);
    };
    EXPECT_TRUE(everyoneGot(5));
    testing_support::TestPostgres& postgres = testing_support::SharedPostgres();
    ASSERT_TRUE(postgres.Stop());
    for (const auto port : {A().Port(), B().Port()}) {
        EXPECT_EQ(SetIp(port, "jdoe", jdoe_, "DOWN", "192.0.2.1"),
                  "ERR Service temporarily unavailable, try again later");
    }
    std::vector<int> beforeRestart;
    for (const auto& r : reporters) {
        beforeRestart.push_back(r->LastOk);
    }
    ASSERT_TRUE(postgres.Start()) << postgres.Log();
    // Both recover by themselves, after their pause before the next connection.
    EXPECT_TRUE(everyoneGot(*std::max_element(beforeRestart.begin(), beforeRestart.end())));
    stop = true;
    for (auto& thread : threads) {
        thread.join();
    }
    const auto account = *A().Storage().FindAccount("jdoe").Value();
    for (const auto& r : reporters) {
        const std::string held = A().Storage().RecordedAddress(account, r->Host).Value();
        // A report answered with an error may still have been kept (its commit's answer lost),
        // but never one before the last acknowledged.
        EXPECT_GE(StormNumber(held), r->LastOk) << r->Host << " holds " << held;
    }
    int failed = 0;
    for (const auto& r : reporters) {
        failed += r->Failed;
    }
    EXPECT_GT(failed, 0) << "no report met the stopped database";
}

} // namespace
