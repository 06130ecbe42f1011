// Two instances of the service on one PostgreSQL database, each with its own front end and
// memory view: what one of them (or an administration command) changes, the other one serves.

#include "server/AdminCommands.h"
#include "server/CommandLine.h"
#include "tests/server/RunningServer.h"
#include "tests/server/TestEngines.h"
#include "tests/support/Wait.h"
#include "util/uBase64.h"

#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace {

using testing_support::EngineKind;
using testing_support::RunningServer;
using testing_support::ServerSetup;

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

} // namespace
