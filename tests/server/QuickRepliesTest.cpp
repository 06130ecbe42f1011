// The requests replied to from memory (the address check, a report of a remembered login) and
// the shared update package: what they reply must be what the database holds, a report gets its
// reply only once it is committed, and changes made by another process reach them.

#include "server/Sqlite.h"
#include "tests/server/RunningServer.h"
#include "tests/support/HttpText.h"
#include "tests/support/RawLoopbackClient.h"
#include "tests/support/Wait.h"
#include "util/uBase64.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <latch>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testing_support::BodyOf;
using testing_support::RawExchange;
using testing_support::RunningServer;
using testing_support::WaitUntil;

const std::string kSecret = ScramblePassword("s+cr/t=");

std::string Service(std::uint16_t port, const std::string& query) {
    return BodyOf(RawExchange(port, "GET /bin/corvale/cmd.php?" + query + " HTTP/1.0\r\n\r\n"));
}

std::string SetIp(std::uint16_t port, const std::string& password, const std::string& host,
                  const std::string& ip) {
    return Service(port, "action=setip&id=jdoe&pswd=" + password + "&host=" + host + "&ip=" + ip +
                             "&v=0.3.11.25");
}

std::string GetIp(std::uint16_t port, const std::string& password, const std::string& host) {
    return Service(port,
                   "action=getip&id=jdoe&pswd=" + password + "&host=" + host + "&v=0.3.11.25");
}

// The address as the database file holds it, read through a connection of its own.
std::string CommittedAddress(const std::string& path, const std::string& host) {
    server::Database db(path);
    db.Execute("PRAGMA busy_timeout = 5000");
    server::Statement query = db.Prepare("SELECT address FROM hosts WHERE name = ?1");
    query.Bind(1, host);
    return query.Step() ? query.Text(0) : std::string("(no host)");
}

TEST(QuickReplies, ReportsFromManyConnectionsAreCommittedBeforeTheirReplyAndReadBackAlike) {
    RunningServer server;
    server.AddAccount("jdoe", "s+cr/t=");
    const std::uint16_t port = server.Port();
    ASSERT_EQ(SetIp(port, kSecret, "SHARED", "192.0.2.1"), "OK"); // proves the login once

    constexpr int kThreads = 8;
    constexpr int kReports = 25;
    std::vector<std::string> failures(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string own = "PC" + std::to_string(t);
            for (int i = 0; i < kReports && failures[t].empty(); ++i) {
                const std::string ip = "198.51." + std::to_string(t) + "." + std::to_string(i);
                const std::string reply = SetIp(port, kSecret, own, ip);
                if (reply != "OK") {
                    failures[t] = own + " replied " + reply;
                } else if (CommittedAddress(server.DatabasePath(), own) != ip) {
                    failures[t] = own + ": replied to before its report was committed";
                } else if (GetIp(port, kSecret, own) != "OK 127.0.0.1 " + ip) {
                    failures[t] = own + ": the address check does not show the report";
                }
                SetIp(port, kSecret, "SHARED", ip); // interleaved with every other thread's
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const auto& failure : failures) {
        EXPECT_EQ(failure, "");
    }
    const std::string committed = CommittedAddress(server.DatabasePath(), "SHARED");
    EXPECT_EQ(GetIp(port, kSecret, "shared"), "OK 127.0.0.1 " + committed)
        << "after interleaved reports the view holds the last committed one";
    EXPECT_EQ(server.Storage().RecordedAddress(1, "SHARED").Value(), committed);
}

// Another process's change reaches the view within its polling interval, not at once.
TEST(QuickReplies, AChangeByAnotherProcessReachesTheAddressCheck) {
    RunningServer server;
    server.AddAccount("jdoe", "s+cr/t=");
    const std::uint16_t port = server.Port();
    ASSERT_EQ(SetIp(port, kSecret, "PC", "192.0.2.7"), "OK");
    ASSERT_EQ(GetIp(port, kSecret, "PC"), "OK 127.0.0.1 192.0.2.7");

    // As the administration commands do it: another connection changes only the database.
    ASSERT_TRUE(server::Storage(server.DatabasePath(), server::LowestCostForTests())
                    .RecordAddress(1, "PC", "192.0.2.8", 1'700'000'100, "0.3.11.25")
                    .Value());
    EXPECT_TRUE(WaitUntil([&] { return GetIp(port, kSecret, "PC") == "OK 127.0.0.1 192.0.2.8"; }))
        << "an address recorded elsewhere";

    const std::string renewed = ScramblePassword("new");
    ASSERT_TRUE(server::Storage(server.DatabasePath(), server::LowestCostForTests())
                    .SetPassword("jdoe", renewed)
                    .Value());
    EXPECT_TRUE(WaitUntil([&] { return GetIp(port, kSecret, "PC") == "OK 127.0.0.1 "; }))
        << "the old password no longer shows the address";
    EXPECT_EQ(GetIp(port, renewed, "PC"), "OK 127.0.0.1 192.0.2.8");
    EXPECT_EQ(SetIp(port, kSecret, "PC", "192.0.2.9"), "ERR Invalid ID or password");
    EXPECT_EQ(SetIp(port, renewed, "PC", "192.0.2.9"), "OK");

    ASSERT_TRUE(server::Storage(server.DatabasePath(), server::LowestCostForTests())
                    .DeleteAccount("jdoe")
                    .Value());
    EXPECT_TRUE(WaitUntil([&] { return GetIp(port, renewed, "PC") == "OK 127.0.0.1 "; }))
        << "a deleted account shows nothing";
    EXPECT_EQ(SetIp(port, renewed, "PC", "192.0.2.10"), "ERR Invalid ID or password");
}

TEST(QuickReplies, ARemovedLoginIsRefusedEvenWhenItsReportWasAlreadyQueued) {
    RunningServer server;
    server.AddAccount("jdoe", "s+cr/t=");
    ASSERT_EQ(SetIp(server.Port(), kSecret, "PC", "192.0.2.7"), "OK");
    // The view still has the old record for a moment; the writing thread must not trust it.
    ASSERT_TRUE(server::Storage(server.DatabasePath(), server::LowestCostForTests())
                    .DeleteAccount("jdoe")
                    .Value());
    EXPECT_EQ(SetIp(server.Port(), kSecret, "PC", "192.0.2.8"), "ERR Invalid ID or password");
    EXPECT_EQ(CommittedAddress(server.DatabasePath(), "PC"), "(no host)");
}

// The quick path's reply to a report: "OK" or "ERR ..." when made at once, else a future the
// writing thread fulfils.
struct QuickReport {
    std::string Now; // empty when the report was queued
    std::future<std::string> Later;
};

QuickReport ReportQuickly(server::ServiceActions& actions, const std::string& ip) {
    auto later = std::make_shared<std::promise<std::string>>();
    QuickReport report{{}, later->get_future()};
    const auto quick =
        actions.ReplyQuickly("/bin/corvale/cmd.php?action=setip&id=jdoe&pswd=" + kSecret +
                                 "&host=PC&ip=" + ip + "&v=0.3.11.25",
                             "127.0.0.1", [later](server::QueuedReply<server::ServiceReply> reply) {
                                 const auto* made = std::get_if<server::ServiceReply>(&reply);
                                 later->set_value(made ? made->Body : "(left to a worker)");
                             });
    if (const auto* reply = std::get_if<server::ServiceReply>(&quick)) {
        report.Now = reply->Body;
    } else if (std::holds_alternative<server::ReplyOnWorker>(quick)) {
        report.Now = "(left to a worker)";
    }
    return report;
}

std::string WhenReplied(std::future<std::string>& later) {
    if (later.wait_for(testing_support::Scaled(10s)) != std::future_status::ready) {
        return "(no reply)";
    }
    return later.get();
}

// A report that the host's row already holds (the test clock stands still, so a repeat is
// the same to the second) is replied to without a transaction; one that changes the row, and
// any report behind it, waits for the database, and arrives in the order sent.
TEST(QuickReplies, ARepeatedReportNeedsNoTransactionButNeverOvertakesOneStillQueued) {
    RunningServer server;
    server.AddAccount("jdoe", "s+cr/t=");
    const std::uint16_t port = server.Port();
    ASSERT_EQ(SetIp(port, kSecret, "PC", "192.0.2.7"), "OK"); // proves the login, too
    // That commit wrote the log; the view's next check settles it, and then the row is trusted.
    const server::AddressReport held{1, {}, "PC", "192.0.2.7", 1'700'000'000, "0.3.11.25"};
    ASSERT_TRUE(WaitUntil([&] { return server.Actions().Reports().AlreadyRecorded(held); }));

    // Another connection holds the write lock for less than the service's busy timeout.
    server::Database blocker(server.DatabasePath());
    blocker.Execute("BEGIN IMMEDIATE");
    server::ServiceActions& actions = server.Actions();
    EXPECT_EQ(ReportQuickly(actions, "192.0.2.7").Now, "OK") << "a repeat waits for nothing";

    QuickReport change = ReportQuickly(actions, "192.0.2.8");
    EXPECT_EQ(change.Now, "") << "replied to before its commit";
    QuickReport back = ReportQuickly(actions, "192.0.2.7"); // what the row held before
    EXPECT_EQ(back.Now, "") << "replied to from a row that a queued report is about to change";
    EXPECT_EQ(change.Later.wait_for(0s), std::future_status::timeout)
        << "replied to while the database was locked";
    blocker.Execute("COMMIT");

    EXPECT_EQ(WhenReplied(change.Later), "OK");
    EXPECT_EQ(WhenReplied(back.Later), "OK");
    EXPECT_EQ(CommittedAddress(server.DatabasePath(), "PC"), "192.0.2.7") << "the last one sent";
    EXPECT_EQ(GetIp(port, kSecret, "PC"), "OK 127.0.0.1 192.0.2.7");

    server.SetNow(1'700'000'001);
    EXPECT_EQ(SetIp(port, kSecret, "PC", "192.0.2.7"), "OK");
    server::Database reader(server.DatabasePath());
    server::Statement reported = reader.Prepare("SELECT reported FROM hosts WHERE name = 'PC'");
    ASSERT_TRUE(reported.Step());
    EXPECT_EQ(reported.Int(0), 1'700'000'001) << "a repeat a second later is written";
}

// Reads a download in small pieces; after the first, waits until every other download has
// begun too, so that all of them are under way at once.
std::string DownloadAlongside(std::uint16_t port, std::latch& allBegun) {
    testing_support::RawLoopbackClient client(port);
    std::string received;
    bool begun = false;
    if (client.Send("GET /bin/corvale/cmd.php?action=dlupdate HTTP/1.0\r\n\r\n")) {
        for (;;) {
            const std::string piece = client.ReadSome(1024, 10s);
            if (piece.empty()) {
                break;
            }
            received += piece;
            if (!begun) {
                begun = true;
                allBegun.arrive_and_wait();
            }
        }
    }
    if (!begun) {
        allBegun.count_down(); // no reason for the others to wait for this one
    }
    return received;
}

std::string PackageOfSize(std::size_t size, char seed) {
    std::string package = "MZ";
    for (std::size_t i = 2; i < size; ++i) {
        package += static_cast<char>((i * 131 + static_cast<std::size_t>(seed)) % 256);
    }
    return package;
}

TEST(Package, ManyDownloadsAtOnceEachGetTheWholePackage) {
    for (const bool fromCommandLine : {false, true}) {
        auto setup = RunningServer::DefaultSetup();
        const std::string package = PackageOfSize(3 * 1024 * 1024 + 17, 'a');
        if (fromCommandLine) {
            setup.Offer.PackageOverride = package;
        }
        RunningServer server(setup);
        if (!fromCommandLine) {
            ASSERT_TRUE(server.Storage().SetPackage(package));
        }
        std::vector<std::string> received(6);
        std::latch allBegun(static_cast<std::ptrdiff_t>(received.size()));
        std::vector<std::thread> readers;
        for (auto& bytes : received) {
            readers.emplace_back([&] { bytes = DownloadAlongside(server.Port(), allBegun); });
        }
        for (auto& reader : readers) {
            reader.join();
        }
        for (const auto& bytes : received) {
            EXPECT_NE(bytes.find("Content-Length: " + std::to_string(package.size()) + "\r\n"),
                      std::string::npos);
            EXPECT_TRUE(BodyOf(bytes) == package)
                << (fromCommandLine ? "command line" : "stored") << " package, "
                << BodyOf(bytes).size() << " of " << package.size() << " bytes";
        }
    }
}

TEST(Package, AChangedPackageIsDeliveredFromTheNextDownloadOn) {
    RunningServer server;
    const std::string request = "GET /bin/corvale/cmd.php?action=dlupdate HTTP/1.0\r\n\r\n";
    ASSERT_TRUE(server.Storage().SetPackage(PackageOfSize(5000, 'a')));
    ASSERT_EQ(BodyOf(RawExchange(server.Port(), request)), PackageOfSize(5000, 'a'));

    ASSERT_TRUE(server.Storage().SetPackage(PackageOfSize(5000, 'b')));
    EXPECT_EQ(BodyOf(RawExchange(server.Port(), request)), PackageOfSize(5000, 'b'));

    // As set-package does it from another process.
    ASSERT_TRUE(server::Storage(server.DatabasePath(), server::LowestCostForTests())
                    .SetPackage(PackageOfSize(6000, 'c')));
    EXPECT_EQ(BodyOf(RawExchange(server.Port(), request)), PackageOfSize(6000, 'c'));

    const std::string head =
        RawExchange(server.Port(), "HEAD /bin/corvale/cmd.php?action=dlupdate HTTP/1.0\r\n\r\n");
    EXPECT_NE(head.find("Content-Length: 6000\r\n"), std::string::npos) << head;
    EXPECT_EQ(BodyOf(head), "") << "a HEAD request gets no body";
}

} // namespace
