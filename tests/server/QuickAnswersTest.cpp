// The requests answered from memory (the address check, a report of a remembered login) and the
// shared update package: what they answer must be what the database holds, a report is
// answered only once it is committed, and changes made by another process reach them.

#include "server/Sqlite.h"
#include "tests/server/RunningServer.h"
#include "util/uBase64.h"

#include <arpa/inet.h>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using server_test::RawExchange;
using server_test::RunningServer;

const std::string kSecret = ScramblePassword("s+cr/t=");

std::string BodyOf(const std::string& response) {
    const auto end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string("(no answer)") : response.substr(end + 4);
}

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

// Another process's change reaches the view within its polling interval, not at once.
template <class Check> bool Eventually(Check check) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!check()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

TEST(QuickAnswers, ReportsFromManyConnectionsAreCommittedBeforeTheirAnswerAndReadBackAlike) {
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
                const std::string answer = SetIp(port, kSecret, own, ip);
                if (answer != "OK") {
                    failures[t] = own + " answered " + answer;
                } else if (CommittedAddress(server.DatabasePath(), own) != ip) {
                    failures[t] = own + ": answered before its report was committed";
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
    EXPECT_EQ(server.Storage().RecordedAddress(1, "SHARED"), committed);
}

TEST(QuickAnswers, AChangeByAnotherProcessReachesTheAddressCheck) {
    RunningServer server;
    server.AddAccount("jdoe", "s+cr/t=");
    const std::uint16_t port = server.Port();
    ASSERT_EQ(SetIp(port, kSecret, "PC", "192.0.2.7"), "OK");
    ASSERT_EQ(GetIp(port, kSecret, "PC"), "OK 127.0.0.1 192.0.2.7");

    // As the administration commands do it: another connection changes only the database.
    server::Storage(server.DatabasePath(), server::LowestCostForTests())
        .RecordAddress(1, "PC", "192.0.2.8", 1'700'000'100, "0.3.11.25");
    EXPECT_TRUE(Eventually([&] { return GetIp(port, kSecret, "PC") == "OK 127.0.0.1 192.0.2.8"; }))
        << "an address recorded elsewhere";

    const std::string renewed = ScramblePassword("new");
    server::Storage(server.DatabasePath(), server::LowestCostForTests())
        .SetPassword("jdoe", renewed);
    EXPECT_TRUE(Eventually([&] { return GetIp(port, kSecret, "PC") == "OK 127.0.0.1 "; }))
        << "the old password no longer shows the address";
    EXPECT_EQ(GetIp(port, renewed, "PC"), "OK 127.0.0.1 192.0.2.8");
    EXPECT_EQ(SetIp(port, kSecret, "PC", "192.0.2.9"), "ERR Invalid ID or password");
    EXPECT_EQ(SetIp(port, renewed, "PC", "192.0.2.9"), "OK");

    server::Storage(server.DatabasePath(), server::LowestCostForTests()).DeleteAccount("jdoe");
    EXPECT_TRUE(Eventually([&] { return GetIp(port, renewed, "PC") == "OK 127.0.0.1 "; }))
        << "a deleted account shows nothing";
    EXPECT_EQ(SetIp(port, renewed, "PC", "192.0.2.10"), "ERR Invalid ID or password");
}

TEST(QuickAnswers, ARemovedLoginIsRefusedEvenWhenItsReportWasAlreadyQueued) {
    RunningServer server;
    server.AddAccount("jdoe", "s+cr/t=");
    ASSERT_EQ(SetIp(server.Port(), kSecret, "PC", "192.0.2.7"), "OK");
    // The view still has the old record for a moment; the writing thread must not trust it.
    server::Storage(server.DatabasePath(), server::LowestCostForTests()).DeleteAccount("jdoe");
    EXPECT_EQ(SetIp(server.Port(), kSecret, "PC", "192.0.2.8"), "ERR Invalid ID or password");
    EXPECT_EQ(CommittedAddress(server.DatabasePath(), "PC"), "(no host)");
}

// A report that the host's row already holds (the test clock stands still, so a repeat is
// the same to the second) is answered without a transaction; one that changes the row, and
// any report behind it, waits for the database, and arrives in the order sent.
TEST(QuickAnswers, ARepeatedReportNeedsNoTransactionButNeverOvertakesOneStillQueued) {
    RunningServer server;
    server.AddAccount("jdoe", "s+cr/t=");
    const std::uint16_t port = server.Port();
    ASSERT_EQ(SetIp(port, kSecret, "PC", "192.0.2.7"), "OK");
    // That commit wrote the log; the view's next check (every 50 ms) settles it.
    std::this_thread::sleep_for(300ms);

    // Another connection holds the write lock for less than the service's busy timeout.
    server::Database blocker(server.DatabasePath());
    blocker.Execute("BEGIN IMMEDIATE");
    const auto report = [&](const std::string& ip) {
        return std::async(std::launch::async, [&, ip] { return SetIp(port, kSecret, "PC", ip); });
    };
    auto repeat = report("192.0.2.7");
    ASSERT_EQ(repeat.wait_for(2s), std::future_status::ready) << "a repeat waits for nothing";
    EXPECT_EQ(repeat.get(), "OK");

    auto change = report("192.0.2.8");
    std::this_thread::sleep_for(300ms); // queued behind the lock by now
    auto back = report("192.0.2.7");    // what the row held before the queued change
    EXPECT_EQ(back.wait_for(300ms), std::future_status::timeout)
        << "answered from a row that a queued report is about to change";
    EXPECT_EQ(change.wait_for(0s), std::future_status::timeout) << "answered before its commit";
    blocker.Execute("COMMIT");

    EXPECT_EQ(change.get(), "OK");
    EXPECT_EQ(back.get(), "OK");
    EXPECT_EQ(CommittedAddress(server.DatabasePath(), "PC"), "192.0.2.7") << "the last one sent";
    EXPECT_EQ(GetIp(port, kSecret, "PC"), "OK 127.0.0.1 192.0.2.7");

    server.SetNow(1'700'000'001);
    EXPECT_EQ(SetIp(port, kSecret, "PC", "192.0.2.7"), "OK");
    server::Database reader(server.DatabasePath());
    server::Statement reported = reader.Prepare("SELECT reported FROM hosts WHERE name = 'PC'");
    ASSERT_TRUE(reported.Step());
    EXPECT_EQ(reported.Int(0), 1'700'000'001) << "a repeat a second later is written";
}

// Reads a download in small pieces, slowly at first, so that many are under way at once.
std::string SlowDownload(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    std::string received;
    if (connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0) {
        const std::string request = "GET /bin/corvale/cmd.php?action=dlupdate HTTP/1.0\r\n\r\n";
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char piece[1024];
        for (int reads = 0;; ++reads) {
            pollfd entry{fd, POLLIN, 0};
            if (poll(&entry, 1, 10000) <= 0) {
                break;
            }
            const ssize_t n = recv(fd, piece, sizeof piece, 0);
            if (n <= 0) {
                break;
            }
            received.append(piece, static_cast<std::size_t>(n));
            if (reads < 50) {
                std::this_thread::sleep_for(2ms);
            }
        }
    }
    close(fd);
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
            server.Storage().SetPackage(package);
        }
        std::vector<std::string> received(6);
        std::vector<std::thread> readers;
        for (auto& bytes : received) {
            readers.emplace_back([&] { bytes = SlowDownload(server.Port()); });
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
    server.Storage().SetPackage(PackageOfSize(5000, 'a'));
    ASSERT_EQ(BodyOf(RawExchange(server.Port(), request)), PackageOfSize(5000, 'a'));

    server.Storage().SetPackage(PackageOfSize(5000, 'b'));
    EXPECT_EQ(BodyOf(RawExchange(server.Port(), request)), PackageOfSize(5000, 'b'));

    // As set-package does it from another process.
    server::Storage(server.DatabasePath(), server::LowestCostForTests())
        .SetPackage(PackageOfSize(6000, 'c'));
    EXPECT_EQ(BodyOf(RawExchange(server.Port(), request)), PackageOfSize(6000, 'c'));

    const std::string head =
        RawExchange(server.Port(), "HEAD /bin/corvale/cmd.php?action=dlupdate HTTP/1.0\r\n\r\n");
    EXPECT_NE(head.find("Content-Length: 6000\r\n"), std::string::npos) << head;
    EXPECT_EQ(BodyOf(head), "") << "a HEAD request gets no body";
}

} // namespace
