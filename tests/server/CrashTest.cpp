// What was answered "OK" survives: the corvale-server program, killed at a random moment of a
// storm of reports (SIGKILL, nothing of it runs any more), restarted on the same database, has
// every acknowledged report, and the database stays intact.

#include "tests/server/ReportStorm.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"
#include "util/uBase64.h"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using testing_support::ReportStorm;

class Program : public testing_support::ChildProcess {
public:
    explicit Program(const std::vector<std::string>& args)
        : ChildProcess(CORVALE_SERVER_PROGRAM, args, {.PipeOutput = true}) {}
    int Wait() { return WaitForExit().value_or(-1); }
};

// The port of a service that announced it is listening, or 0.
std::uint16_t PortOf(Program& serve) {
    const std::string banner = serve.ReadLine();
    const std::string prefix = "corvale-server listening on 127.0.0.1:";
    EXPECT_EQ(banner.rfind(prefix, 0), 0u) << banner;
    return banner.rfind(prefix, 0) == 0
               ? static_cast<std::uint16_t>(std::stoi(banner.substr(prefix.size())))
               : std::uint16_t{0};
}

// Host name -> address, as list-hosts of the program prints them.
std::map<std::string, std::string> ListedAddresses(const std::string& database) {
    Program list({"--db", database, "list-hosts", "jdoe"});
    std::istringstream lines(list.ReadAll());
    EXPECT_EQ(list.Wait(), 0);
    std::map<std::string, std::string> addresses;
    std::string owner, number, name, address;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::getline(fields, owner, '\t');
        std::getline(fields, number, '\t');
        std::getline(fields, name, '\t');
        std::getline(fields, address, '\t');
        addresses[name] = address;
    }
    return addresses;
}

TEST(Crash, EveryAcknowledgedReportSurvivesAKillAtAnyMoment) {
    testing_support::TempFolder folder;
    const std::string database = folder / "crash.db";
    {
        Program add({"--db", database, "add-account", "jdoe", "secret"});
        ASSERT_EQ(add.Wait(), 0);
    }
    constexpr int kRounds = 20;
    constexpr int kClients = 4;
    constexpr int kHosts = 16; // each client's: 64 rows, each with its own acknowledged report
    const unsigned seed = std::random_device()();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> killAfterMs(0, 400);
    // What the database must hold from now on, for each host: its last acknowledged report.
    std::map<std::string, int> floor;
    std::map<std::string, int> lastSent;
    int nextSequence = 1;
    int acknowledged = 0;
    int checked = 0;
    for (int round = 1; round <= kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round) + " of seed " + std::to_string(seed));
        {
            Program serve({"--db", database, "--listen", "127.0.0.1:0"});
            const std::uint16_t port = PortOf(serve);
            ASSERT_NE(port, 0);
            ReportStorm storm(port, "jdoe", ScramblePassword("secret"), kClients, kHosts,
                              nextSequence);
            // The first round waits for reports to be kept, so that each round has some.
            if (round == 1) {
                ASSERT_TRUE(storm.WaitForAcknowledged(1));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs(random)));
            serve.Signal(SIGKILL);
            EXPECT_EQ(serve.Wait(), 128 + SIGKILL);
            storm.Stop();
            acknowledged += storm.TotalAcknowledged();
            for (int c = 0; c < kClients; ++c) {
                for (int h = 0; h < kHosts; ++h) {
                    const std::string host = ReportStorm::HostName(c, h);
                    floor[host] = std::max(floor[host], storm.Acknowledged(c, h));
                    lastSent[host] = std::max(lastSent[host], storm.Sent(c, h));
                }
                nextSequence = std::max(nextSequence, storm.LastSent(c) + 1);
            }
        }
        Program check({"--db", database, "check"});
        const std::string found = check.ReadAll();
        ASSERT_EQ(check.Wait(), 0) << found;
        const auto addresses = ListedAddresses(database);
        for (const auto& [host, kept] : floor) {
            if (kept == 0) {
                continue;
            }
            const auto listed = addresses.find(host);
            ASSERT_NE(listed, addresses.end()) << host << ": its acknowledged report is lost";
            const auto sequence = ReportStorm::SequenceOf(listed->second);
            ASSERT_TRUE(sequence) << host << ": " << listed->second;
            EXPECT_GE(*sequence, kept) << host << ": its acknowledged report is lost";
            EXPECT_LE(*sequence, lastSent[host]) << host << ": an address nobody sent";
            ++checked;
        }
    }
    std::cout << "crash test: " << kRounds << " rounds killed with SIGKILL, " << acknowledged
              << " acknowledged reports, " << checked
              << " host rows checked against their last acknowledged report (seed " << seed
              << ")\n";
    EXPECT_GT(acknowledged, 0);
}

} // namespace
