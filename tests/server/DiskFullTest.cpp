// A full disk under the database: reports that cannot be kept get error answers, never "OK";
// nothing is damaged, what the service shows is what the file holds, and once space returns
// the service keeps reports again without a restart.

#include "server/Backup.h"
#include "tests/server/ReportStorm.h"
#include "tests/server/RunningServer.h"
#include "tests/server/SmallFileSystem.h"
#include "tests/support/Wait.h"
#include "util/uBase64.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <sqlite3.h>

namespace {

using testing_support::ReportStorm;
using testing_support::RunningServer;
using testing_support::SmallFileSystem;

constexpr int kHosts = 200;

std::string Body(const std::string& reply) {
    const auto body = reply.find("\r\n\r\n");
    return body == std::string::npos ? "(no reply)" : reply.substr(body + 4);
}

class DiskFull : public ::testing::Test {
protected:
    void SetUp() override {
        if (!small_.Mounted()) {
            GTEST_SKIP() << "cannot mount a tmpfs here (tests are meant to run as root)";
        }
        auto setup = RunningServer::DefaultSetup();
        setup.Database = database_;
        server_ = std::make_unique<RunningServer>(setup);
        server_->AddAccount("jdoe", "secret");
    }

    static std::string HostOf(int sequence) { return "full-" + std::to_string(sequence % kHosts); }

    // Sends report number `sequence` and notes it; whether it was answered "OK". Any other
    // answer must be an error answer.
    bool Report(int sequence) {
        const std::string host = HostOf(sequence);
        sent_[host] = sequence;
        const std::string answer = Body(testing_support::RawExchange(
            server_->Port(), "GET /bin/corvale/cmd.php?action=setip&id=jdoe&pswd=" + password_ +
                                 "&host=" + host + "&ip=" + ReportStorm::Address(sequence) +
                                 "&v=0.3.11.25 HTTP/1.0\r\n\r\n"));
        if (answer == "OK") {
            acknowledged_[host] = sequence;
            return true;
        }
        EXPECT_EQ(answer.rfind("ERR ", 0), 0u) << answer;
        return false;
    }

    // The address the service gives for `host`.
    std::string Shown(const std::string& host) {
        const std::string answer = Body(testing_support::RawExchange(
            server_->Port(), "GET /bin/corvale/cmd.php?action=getip&id=jdoe&pswd=" + password_ +
                                 "&host=" + host + "&v=0.3.11.25 HTTP/1.0\r\n\r\n"));
        const auto last = answer.rfind(' ');
        return answer.rfind("OK ", 0) == 0 && last != std::string::npos ? answer.substr(last + 1)
                                                                        : "(" + answer + ")";
    }

    // Host name -> address, read from the file by a connection of the test's own.
    std::map<std::string, std::string> Stored() {
        std::map<std::string, std::string> stored;
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open_v2(database_.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr),
                  SQLITE_OK);
        sqlite3_stmt* query = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db, "SELECT name, address FROM hosts", -1, &query, nullptr),
                  SQLITE_OK);
        while (sqlite3_step(query) == SQLITE_ROW) {
            stored[reinterpret_cast<const char*>(sqlite3_column_text(query, 0))] =
                reinterpret_cast<const char*>(sqlite3_column_text(query, 1));
        }
        sqlite3_finalize(query);
        sqlite3_close(db);
        return stored;
    }

    // The file is intact, holds every acknowledged report (or a later one that was sent), and
    // the service shows what it holds.
    void ExpectEveryAcknowledgedReportKept(const std::string& when) {
        SCOPED_TRACE(when);
        const auto problems = server::CheckDatabase(database_);
        ASSERT_TRUE(problems) << problems.Failure().Message;
        EXPECT_EQ(*problems, std::vector<std::string>());
        const auto stored = Stored();
        for (const auto& [host, sequence] : acknowledged_) {
            const auto found = stored.find(host);
            ASSERT_NE(found, stored.end()) << host << ": an acknowledged report is lost";
            const auto kept = ReportStorm::SequenceOf(found->second);
            ASSERT_TRUE(kept) << found->second;
            EXPECT_GE(*kept, sequence) << host << ": an acknowledged report is lost";
            EXPECT_LE(*kept, sent_[host]);
        }
        for (const auto& [host, sequence] : sent_) {
            const auto found = stored.find(host);
            EXPECT_EQ(Shown(host), found == stored.end() ? "" : found->second)
                << host << ": shown, but not what the file holds";
        }
    }

    testing_support::TempFolder folder_;
    // Room for the log to grow between two checkpoints once space returns.
    SmallFileSystem small_{folder_ / "small", "8m"};
    const std::string database_ = folder_ / "small/service.db";
    const std::string filler_ = folder_ / "small/filler";
    const std::string password_ = ScramblePassword("secret");
    std::unique_ptr<RunningServer> server_;
    std::map<std::string, int> sent_;
    std::map<std::string, int> acknowledged_;
};

TEST_F(DiskFull, GivesErrorAnswersKeepsWhatItAcknowledgedAndRecoversWhenSpaceReturns) {
    int sequence = 1;
    for (; sequence <= 50; ++sequence) {
        ASSERT_TRUE(Report(sequence)) << "room to spare";
    }

    small_.Fill(filler_);
    int refused = 0;
    int keptWhileFull = 0;
    for (int tries = 0; tries < 3000 && refused < 20; ++tries, ++sequence) {
        Report(sequence) ? ++keptWhileFull : ++refused;
    }
    ASSERT_GE(refused, 20) << "the full file system took every report";
    std::cout << "while full: " << refused << " reports refused, " << keptWhileFull
              << " kept in the log's free room\n";
    ExpectEveryAcknowledgedReportKept("while full");

    std::filesystem::remove(filler_);
    EXPECT_TRUE(testing_support::WaitUntil([&] { return Report(sequence++); }))
        << "no report kept once space returned";
    for (int more = 0; more < 2 * kHosts; ++more, ++sequence) {
        EXPECT_TRUE(Report(sequence)) << "space is back";
    }
    ExpectEveryAcknowledgedReportKept("space returned");
}

} // namespace
