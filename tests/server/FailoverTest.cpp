// Two instances of the service on a PostgreSQL primary with a synchronous streaming standby,
// both hosts in their address: when the primary goes down, they answer errors and never "OK"
// until the standby is promoted, then follow it by themselves, and every report acknowledged
// before the primary went is on the new primary.

#include "server/PgClient.h"
#include "tests/server/RunningServer.h"
#include "tests/server/TestEngines.h"
#include "tests/support/Wait.h"
#include "util/uBase64.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

namespace {

using testing_support::RunningServer;
using testing_support::ServerSetup;
using testing_support::TestPostgres;
using namespace std::chrono_literals;

constexpr const char* kUnavailable = "ERR Service temporarily unavailable, try again later";

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

// Report n of a reporter: addresses that grow with n, so the one a host holds says which
// report it is.
std::string ReportAddress(int n) {
    return "10.1." + std::to_string(n / 250) + "." + std::to_string(n % 250 + 1);
}
int ReportNumber(const std::string& address) {
    int a = 0, b = 0, c = 0, d = 0;
    return std::sscanf(address.c_str(), "%d.%d.%d.%d", &a, &b, &c, &d) == 4 ? c * 250 + d - 1 : -1;
}

// The address jdoe's `host` holds on the server of `conninfo`; empty for none.
std::string HeldAddress(const std::string& conninfo, const std::string& host) {
    server::PgConnection db(conninfo);
    const server::PgResult row =
        db.Query("SELECT h.address FROM hosts h JOIN accounts a ON a.id = h.account "
                 "WHERE a.user_id = 'jdoe' AND h.name = $1",
                 {host});
    return row.Rows() == 1 ? row.Text(0, 0) : std::string();
}
int HeldReport(const std::string& conninfo, const std::string& host) {
    return ReportNumber(HeldAddress(conninfo, host));
}

class Failover : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto missing = TestPostgres::MissingReason(); !missing.empty()) {
            GTEST_SKIP() << missing;
        }
        primary_ = std::make_unique<TestPostgres>();
        standby_ = std::make_unique<TestPostgres>(*primary_, TestPostgres::StandbyTag{});
        // From here on a commit is acknowledged only once the standby has it: none that was
        // answered is lost when the primary goes. (Set after the copy, so that the standby,
        // once promoted, waits for no standby of its own.)
        {
            server::PgConnection admin(primary_->Uri());
            admin.Execute("ALTER SYSTEM SET synchronous_standby_names = '*'");
            admin.Execute("SELECT pg_reload_conf()");
            ASSERT_TRUE(testing_support::WaitUntil([&] {
                return admin
                           .Execute("SELECT count(*) FROM pg_stat_replication "
                                    "WHERE sync_state = 'sync'")
                           .Int(0, 0) == 1;
            })) << "the standby does not replicate synchronously:\n"
                << standby_->Log();
        }
        ServerSetup setup = RunningServer::DefaultSetup();
        setup.Database = "postgresql://" + std::string(TestPostgres::kUser) + "@/" +
                         TestPostgres::kDatabase + "?host=" + primary_->SocketFolder() + "," +
                         standby_->SocketFolder() + "&port=" + std::to_string(TestPostgres::kPort) +
                         "&target_session_attrs=read-write";
        a_ = std::make_unique<RunningServer>(setup);
        b_ = std::make_unique<RunningServer>(setup);
        a_->AddAccount("jdoe", "secret");
    }
    // The instances go before the servers they use.
    std::unique_ptr<TestPostgres> primary_;
    std::unique_ptr<TestPostgres> standby_;
    std::unique_ptr<RunningServer> a_;
    std::unique_ptr<RunningServer> b_;
    const std::string jdoe_ = ScramblePassword("secret");
};

TEST_F(Failover, TheInstancesFollowAPromotedStandbyAndKeepEveryAcknowledgedReport) {
    // 0: the primary is up; 1: it is down and the standby not yet promoted; 2: promoted.
    std::atomic<int> phase{0};
    std::atomic<bool> stop{false};
    struct Reporter {
        std::uint16_t Port = 0;
        std::string Host;
        std::atomic<int> LastOk{-1};
        std::atomic<int> OkWhileDown{0};
        std::atomic<int> Failed{0};
    };
    std::vector<std::unique_ptr<Reporter>> reporters;
    for (const auto port : {a_->Port(), b_->Port(), a_->Port(), b_->Port()}) {
        auto reporter = std::make_unique<Reporter>();
        reporter->Port = port;
        reporter->Host = "H" + std::to_string(reporters.size());
        reporters.push_back(std::move(reporter));
    }
    std::vector<std::thread> threads;
    for (auto& reporter : reporters) {
        threads.emplace_back([&, r = reporter.get()] {
            for (int n = 0; !stop && n < 200'000; ++n) {
                const int sentIn = phase;
                const std::string answer = SetIp(r->Port, "jdoe", jdoe_, r->Host, ReportAddress(n));
                if (answer == "OK") {
                    r->LastOk = n;
                    // Asked and answered while no server took writes.
                    if (sentIn == 1 && phase == 1) {
                        ++r->OkWhileDown;
                    }
                } else {
                    ++r->Failed;
                }
                if (phase == 1) {
                    std::this_thread::sleep_for(20ms); // no storm of refusals meanwhile
                }
            }
        });
    }
    const auto everyoneGot = [&](const std::vector<int>& past) {
        return testing_support::WaitUntil(
            [&] {
                for (std::size_t i = 0; i < reporters.size(); ++i) {
                    if (reporters[i]->LastOk <= past[i]) {
                        return false;
                    }
                }
                return true;
            },
            60s);
    };
    EXPECT_TRUE(everyoneGot(std::vector<int>(reporters.size(), 5)));

    ASSERT_TRUE(primary_->StopImmediately()) << primary_->Log();
    phase = 1;
    std::vector<int> acknowledged;
    for (const auto& r : reporters) {
        acknowledged.push_back(r->LastOk);
    }
    // Before the promotion the standby already holds every acknowledged report.
    for (std::size_t i = 0; i < reporters.size(); ++i) {
        EXPECT_GE(HeldReport(standby_->Uri(), reporters[i]->Host), acknowledged[i])
            << reporters[i]->Host;
    }
    for (const auto port : {a_->Port(), b_->Port()}) {
        EXPECT_EQ(SetIp(port, "jdoe", jdoe_, "DOWN", "192.0.2.1"), kUnavailable);
    }
    // A while with the standby read-only: the instances keep trying, and refuse.
    std::this_thread::sleep_for(2s);
    for (const auto port : {a_->Port(), b_->Port()}) {
        EXPECT_EQ(SetIp(port, "jdoe", jdoe_, "DOWN", "192.0.2.1"), kUnavailable);
    }

    ASSERT_TRUE(standby_->Promote()) << standby_->Log();
    phase = 2;
    std::vector<int> beforePromotion;
    for (const auto& r : reporters) {
        beforePromotion.push_back(r->LastOk);
    }
    // Both follow the new primary by themselves.
    EXPECT_TRUE(everyoneGot(beforePromotion));
    stop = true;
    for (auto& thread : threads) {
        thread.join();
    }

    for (std::size_t i = 0; i < reporters.size(); ++i) {
        const Reporter& r = *reporters[i];
        EXPECT_EQ(r.OkWhileDown, 0) << r.Host << " was told OK while no server took writes";
        EXPECT_GT(r.Failed, 0) << r.Host << " met no refusal";
        // The last acknowledged report is on the new primary (a later one answered with an
        // error may be there too, its answer lost).
        EXPECT_GE(HeldReport(standby_->Uri(), r.Host), r.LastOk) << r.Host;
    }
    // Each instance's view, read afresh from the new primary and kept in step through it,
    // serves what the other one recorded last.
    for (const auto& r : {reporters[0].get(), reporters[1].get()}) {
        const std::string held = ReportAddress(HeldReport(standby_->Uri(), r->Host));
        for (const auto port : {a_->Port(), b_->Port()}) {
            EXPECT_TRUE(testing_support::WaitUntil([&] {
                return Ask(port, "action=getip&id=jdoe&pswd=" + jdoe_ + "&host=" + r->Host) ==
                       "OK 127.0.0.1 " + held;
            })) << r->Host
                << " on port " << port;
        }
    }
}

// With the standby gone, no commit is confirmed: a report waits for it only as long as any
// command may, and is then answered with an error, never "OK", although the primary kept it.
TEST_F(Failover, WhileTheSynchronousStandbyIsAwayReportsFailInBoundedTimeThenSucceedAgain) {
    ASSERT_EQ(SetIp(a_->Port(), "jdoe", jdoe_, "PC", "192.0.2.1"), "OK");
    ASSERT_TRUE(standby_->Stop()) << standby_->Log();
    // The answer comes within the exchange's own wait ("(no reply)" else).
    EXPECT_EQ(SetIp(a_->Port(), "jdoe", jdoe_, "PC", "192.0.2.2"), kUnavailable);
    EXPECT_EQ(HeldAddress(primary_->Uri(), "PC"), "192.0.2.2") << "kept on the primary alone";
    ASSERT_TRUE(standby_->Start()) << standby_->Log();
    EXPECT_TRUE(testing_support::WaitUntil(
        [&] { return SetIp(a_->Port(), "jdoe", jdoe_, "PC", "192.0.2.3") == "OK"; }, 60s));
    // The instance's view, read afresh after the unconfirmed commit, serves the last one.
    EXPECT_EQ(Ask(a_->Port(), "action=getip&id=jdoe&pswd=" + jdoe_ + "&host=PC"),
              "OK 127.0.0.1 192.0.2.3");
}

} // namespace
