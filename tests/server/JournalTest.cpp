// The journal's entries: when standard error is the journal's stream, and what an access-log
// entry carries (its priority and fields, never a password or a query's values).

#include "server/Journal.h"

#include "tests/server/RunningServer.h"
#include "tests/support/ScopedEnv.h"
#include "util/uBase64.h"

#include <gtest/gtest.h>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace testing_support {
namespace {

using server::JournalEntry;

TEST(Journal, StandardErrorIsTheJournalOnlyWhenTheStreamMatches) {
    struct stat status {};
    ASSERT_EQ(fstat(STDERR_FILENO, &status), 0);
    const std::string device = std::to_string(status.st_dev);
    const std::string inode = std::to_string(status.st_ino);
    struct Case {
        const char* name;
        std::optional<std::string> stream;
        bool journal;
    };
    const Case cases[] = {
        {"not under the journal", std::nullopt, false},
        {"this very standard error", device + ':' + inode, true},
        {"another inode (inherited by a child)", device + ':' + inode + "1", false},
        {"another device", device + "1:" + inode, false},
        {"nothing useful", std::string("garbage"), false},
        {"empty", std::string(), false},
    };
    for (const Case& c : cases) {
        ScopedEnv stream("JOURNAL_STREAM", c.stream);
        EXPECT_EQ(server::StandardErrorIsJournal(), c.journal) << c.name;
    }
}

TEST(Journal, AccessEntriesCarryPriorityActionAndStatusButNoValues) {
    std::mutex mutex;
    std::vector<JournalEntry> sent;
    server::CaptureJournalForTests([&](const JournalEntry& entry) {
        std::lock_guard lock(mutex);
        sent.push_back(entry);
    });
    const std::string stored = ScramblePassword("secret");
    {
        auto setup = RunningServer::DefaultSetup();
        std::ostringstream unused;
        setup.FrontEnd.AccessLog = &unused;
        setup.FrontEnd.AccessLogToJournal = true;
        RunningServer server(setup);
        server.AddAccount("jdoe", "secret");
        ASSERT_EQ(
            Call("setip",
                 {{"id", "jdoe"}, {"pswd", stored}, {"host", "SecretHost"}, {"ip", "192.0.2.7"}}),
            "OK");
        RawExchange(server.Port(), "GET /nothing-here?pswd=hidden HTTP/1.0\r\n\r\n");
        RawExchange(server.Port(), "GET /healthz HTTP/1.0\r\n\r\n");
        EXPECT_EQ(unused.str(), "") << "the journal takes the lines instead";
    } // stopped: every entry is sent
    server::CaptureJournalForTests({});

    ASSERT_EQ(sent.size(), 2u) << "probes stay out of it";
    EXPECT_EQ(sent[0].Message, "127.0.0.1 \"GET /bin/corvale/cmd.php?action=setip\" 200 2");
    EXPECT_EQ(sent[0].Action, "setip");
    EXPECT_EQ(sent[0].Status, "200");
    EXPECT_EQ(sent[0].Priority, 6);
    EXPECT_EQ(sent[1].Action, "page");
    EXPECT_EQ(sent[1].Status, "404");
    EXPECT_EQ(sent[1].Priority, 5);
    for (const JournalEntry& entry : sent) {
        for (const std::string& secret : {stored, std::string("jdoe"), std::string("SecretHost"),
                                          std::string("192.0.2.7"), std::string("hidden")}) {
            for (const std::string& field : {entry.Message, entry.Action, entry.Status}) {
                EXPECT_EQ(field.find(secret), std::string::npos) << field;
            }
        }
    }
}

TEST(Journal, AServerFailureIsAnErrorARefusalANotice) {
    struct Case {
        int status;
        int priority;
    };
    for (const Case c : {Case{200, 6}, Case{301, 6}, Case{400, 5}, Case{429, 5}, Case{503, 3}}) {
        server::HttpReply reply;
        reply.Status = c.status;
        const JournalEntry entry =
            server::AccessEntry({"GET", "/", "", "", "127.0.0.1", {}}, reply);
        EXPECT_EQ(entry.Priority, c.priority) << c.status;
        EXPECT_EQ(entry.Status, std::to_string(c.status));
    }
}

} // namespace
} // namespace testing_support
