// The thin layer over PostgreSQL's client library, against a real server the test starts: the
// server the tests run on, values through parameters, errors with their codes, transactions,
// and notifications between two connections.

#include "server/PgClient.h"

#include "tests/server/TestPostgres.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Wait.h"

#include <arpa/inet.h>
#include <future>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace server;
using testing_support::TestPostgres;

class PgClient : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (TestPostgres::MissingReason().empty()) {
            postgres_ = std::make_unique<TestPostgres>();
        }
    }
    static void TearDownTestSuite() { postgres_.reset(); }
    void SetUp() override {
        if (!postgres_) {
            GTEST_SKIP() << TestPostgres::MissingReason();
        }
        ASSERT_TRUE(postgres_->Start()) << postgres_->Log();
    }
    static TestPostgres& Postgres() { return *postgres_; }
    static PgConnection Connect() { return PgConnection(postgres_->Uri()); }

    static std::unique_ptr<TestPostgres> postgres_;
};
std::unique_ptr<TestPostgres> PgClient::postgres_;

TEST_F(PgClient, TheTestServerRunsUnprivilegedOnItsSocketOnlyAndCanBeRestarted) {
    struct stat info {};
    ASSERT_EQ(::stat((Postgres().SocketFolder() + "/data").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, testing_support::UnprivilegedUid());
    {
        PgConnection connection = Connect();
        EXPECT_EQ(connection.Execute("SHOW listen_addresses").Text(0, 0), "");
        EXPECT_EQ(connection.Execute("SELECT current_database()").Text(0, 0),
                  TestPostgres::kDatabase);
    }
    ASSERT_TRUE(Postgres().Stop());
    try {
        Connect();
        ADD_FAILURE() << "connected to a stopped server";
    } catch (const PgError& error) {
        EXPECT_EQ(error.SqlState(), "") << "a failure of the connection, not of a command";
        EXPECT_NE(std::string(error.what()).find("cannot connect"), std::string::npos);
    }
    ASSERT_TRUE(Postgres().Start()) << Postgres().Log();
    EXPECT_EQ(Connect().Execute("SELECT 1").Int(0, 0), 1);
}

TEST_F(PgClient, ParametersAndResultsKeepEveryValueAsItWas) {
    PgConnection connection = Connect();
    const std::vector<std::string> texts = {
        "",
        "plain",
        "it's; DROP TABLE x; --",
        "$1 \\ \"quoted\"",
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x82\xAC",
        std::string(100'000, 'a'),
    };
    for (const std::string& text : texts) {
        const PgResult echoed = connection.Query("SELECT $1::text, $1 IS NULL", {text});
        EXPECT_EQ(echoed.Text(0, 0), text);
        EXPECT_EQ(echoed.Text(0, 1), "f") << "empty text is not NULL";
    }
    const PgResult null = connection.Query("SELECT $1::text IS NULL, $1::text", {std::nullopt});
    EXPECT_EQ(null.Text(0, 0), "t");
    EXPECT_TRUE(null.IsNull(0, 1));
    EXPECT_EQ(null.Text(0, 1), "");

    for (const std::int64_t number :
         {std::int64_t{0}, std::int64_t{-1}, std::numeric_limits<std::int64_t>::min(),
          std::numeric_limits<std::int64_t>::max()}) {
        EXPECT_EQ(connection.Query("SELECT $1::bigint", {number}).Int(0, 0), number);
    }

    const std::string bytes("\0\xFF\x01'\\\n\0", 7);
    const PgResult blob =
        connection.Query("SELECT $1::bytea", {PgParam::Bytes(bytes)}, /*binaryResult=*/true);
    EXPECT_EQ(blob.Text(0, 0), bytes);
}

TEST_F(PgClient, AFailedCommandSaysWhyWithTheServersCode) {
    PgConnection connection = Connect();
    connection.Execute("CREATE TEMPORARY TABLE t(k text PRIMARY KEY)");
    connection.Query("INSERT INTO t VALUES($1)", {"a"});
    struct Case {
        std::string Sql;
        std::string State;
    };
    for (const Case& c : std::vector<Case>{{"SELEC 1", "42601"},
                                           {"SELECT * FROM missing", "42P01"},
                                           {"INSERT INTO t VALUES('a')", "23505"}}) {
        try {
            connection.Execute(c.Sql);
            ADD_FAILURE() << c.Sql << " succeeded";
        } catch (const PgError& error) {
            EXPECT_EQ(error.SqlState(), c.State) << c.Sql << ": " << error.what();
        }
    }
    EXPECT_TRUE(connection.IsOk()) << "a failed command leaves the connection usable";
    EXPECT_EQ(connection.Execute("SELECT count(*) FROM t").Int(0, 0), 1);
    EXPECT_THROW(connection.Execute("SELECT 'x1'").Int(0, 0), PgError);
    EXPECT_THROW(connection.Execute("SELECT '12 '").Int(0, 0), PgError);
}

TEST_F(PgClient, ATransactionKeepsItsChangesOnlyWhenItCommits) {
    PgConnection connection = Connect();
    connection.Execute("CREATE TEMPORARY TABLE t(k text PRIMARY KEY)");
    {
        PgTransaction transaction(connection);
        connection.Query("INSERT INTO t VALUES($1)", {"dropped"});
    }
    {
        PgTransaction transaction(connection);
        connection.Query("INSERT INTO t VALUES($1)", {"kept"});
        transaction.Commit();
    }
    {
        // A command that failed inside spoils the transaction: the server turns COMMIT into
        // a rollback without an error, which must not pass for a commit.
        PgTransaction transaction(connection);
        connection.Query("INSERT INTO t VALUES($1)", {"lost"});
        EXPECT_THROW(connection.Query("INSERT INTO t VALUES($1)", {"kept"}), PgError);
        EXPECT_THROW(transaction.Commit(), PgError);
    }
    const PgResult rows = connection.Execute("SELECT k FROM t ORDER BY k");
    ASSERT_EQ(rows.Rows(), 1);
    EXPECT_EQ(rows.Text(0, 0), "kept");
    EXPECT_EQ(connection.Query("UPDATE t SET k = k || $1", {"!"}).Changed(), 1);
}

TEST_F(PgClient, AListeningConnectionHearsNotificationsAndNoticesItsLoss) {
    PgConnection listener = Connect();
    PgConnection sender = Connect();
    listener.Execute("LISTEN " + PgQuoteIdentifier("odd \"channel\""));
    sender.Query("SELECT pg_notify($1, $2)", {"odd \"channel\"", "payload 1"});
    std::vector<PgNotification> heard;
    ASSERT_TRUE(testing_support::WaitUntil([&] {
        for (auto& notification : listener.TakeNotifications()) {
            heard.push_back(std::move(notification));
        }
        return !heard.empty();
    }));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].Channel, "odd \"channel\"");
    EXPECT_EQ(heard[0].Payload, "payload 1");
    EXPECT_EQ(heard[0].SenderPid, sender.BackendPid());

    sender.Query("SELECT pg_terminate_backend($1)",
                 {static_cast<std::int64_t>(listener.BackendPid())});
    EXPECT_TRUE(testing_support::WaitUntil([&] {
        try {
            listener.TakeNotifications();
            return !listener.IsOk();
        } catch (const PgError&) {
            return true;
        }
    })) << "the lost connection went unnoticed";
}

TEST_F(PgClient, ACommandPastItsWaitIsCancelledAndTheConnectionGoesOn) {
    PgConnection connection = Connect();
    connection.SetCommandWait(std::chrono::milliseconds{300});
    try {
        connection.Execute("SELECT pg_sleep(600)");
        ADD_FAILURE() << "the command was not cancelled";
    } catch (const PgError& error) {
        EXPECT_EQ(error.SqlState(), "57014") << error.what(); // cancelled on request
    }
    EXPECT_TRUE(connection.IsOk());
    EXPECT_EQ(connection.Query("SELECT $1::int + 1", {std::int64_t{41}}).Int(0, 0), 42);
}

// A server that takes the connection and never answers: without a bound, the connection
// would wait for its first answer for good.
TEST(PgClientTimeout, AServerThatNeverAnswersIsGivenUpAfterTheDefaultConnectTimeout) {
    const int listening = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listening, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listening, 4), 0); // the kernel completes the handshake; no one reads
    ASSERT_EQ(::getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string conninfo =
        "host=127.0.0.1 port=" + std::to_string(ntohs(address.sin_port)) + " user=nobody";
    auto attempt = std::async(std::launch::async, [&]() -> std::string {
        try {
            PgConnection connection(conninfo);
            return "connected";
        } catch (const PgError& error) {
            return error.what();
        }
    });
    const bool ended = attempt.wait_for(testing_support::Scaled(std::chrono::seconds{
                           kDefaultConnectTimeoutSeconds * 6})) == std::future_status::ready;
    ::close(listening); // ends a wait that had no bound
    const std::string outcome = attempt.get();
    EXPECT_TRUE(ended) << "the connection waited with no bound";
    EXPECT_NE(outcome.find("timeout"), std::string::npos) << outcome;
}

} // namespace
