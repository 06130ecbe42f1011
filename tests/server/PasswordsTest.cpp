// Passwords at rest: only Argon2id hashes in the database, an old database converted once,
// remembered logins that never include a wrong password, and failed-login limits.

#include "server/PasswordHash.h"
#include "server/Sqlite.h"
#include "server/Storage.h"
#include "tests/server/RunningServer.h"
#include "util/uBase64.h"

#include <gtest/gtest.h>
#include <map>

namespace {

using namespace server;
using testing_support::Call;
using testing_support::RunningServer;
using testing_support::ServerSetup;

std::map<std::string, std::string> PasswordColumn(const std::string& path) {
    Database raw(path);
    Statement query = raw.Prepare("SELECT user_id, password FROM accounts");
    std::map<std::string, std::string> column;
    while (query.Step()) {
        column[query.Text(0)] = query.Text(1);
    }
    return column;
}

// The schema of the version that kept the client's form of each password as it came.
void WriteOldDatabase(const std::string& path,
                      const std::vector<std::pair<std::string, std::string>>& accounts) {
    Database raw(path);
    raw.Execute(R"sql(
CREATE TABLE accounts(id INTEGER PRIMARY KEY, user_id TEXT NOT NULL UNIQUE COLLATE NOCASE,
    password TEXT NOT NULL, created INTEGER NOT NULL);
CREATE TABLE hosts(number INTEGER PRIMARY KEY AUTOINCREMENT,
    account INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
    name TEXT NOT NULL COLLATE NOCASE, address TEXT NOT NULL DEFAULT '', reported INTEGER,
    client_version TEXT NOT NULL DEFAULT '', UNIQUE(account, name));
CREATE TABLE offers(host INTEGER NOT NULL REFERENCES hosts(number) ON DELETE CASCADE,
    buddy INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
    offered INTEGER NOT NULL, PRIMARY KEY(host, buddy)) WITHOUT ROWID;
CREATE INDEX offers_by_buddy ON offers(buddy);
CREATE TABLE settings(key TEXT PRIMARY KEY, value BLOB NOT NULL) WITHOUT ROWID;
PRAGMA user_version = 1;
)sql");
    for (const auto& [userId, stored] : accounts) {
        raw.Prepare("INSERT INTO accounts(user_id, password, created) VALUES(?1, ?2, 1)")
            .Bind(1, userId)
            .Bind(2, stored)
            .Run();
    }
}

TEST(Passwords, AnOldDatabaseIsConvertedOnceAndEveryAccountStillLogsIn) {
    testing_support::TempFolder folder;
    const std::string path = folder / "old.db";
    const std::vector<std::pair<std::string, std::string>> accounts = {
        {"jdoe", ScramblePassword("secret")},
        {"amy", "ab+cd/ef=="},
        {"bob", ScramblePassword("b o b's")},
    };
    WriteOldDatabase(path, accounts);

    std::map<std::string, std::string> firstHashes;
    {
        Storage storage(path, LowestCostForTests());
        for (const auto& [userId, stored] : accounts) {
            EXPECT_TRUE(storage.Authenticate(userId, stored).Value()) << userId;
            EXPECT_FALSE(storage.Authenticate(userId, stored + "x").Value()) << userId;
        }
        firstHashes = PasswordColumn(path);
    }
    ASSERT_EQ(firstHashes.size(), accounts.size());
    for (const auto& [userId, stored] : accounts) {
        EXPECT_TRUE(IsPasswordHash(firstHashes[userId])) << firstHashes[userId];
        EXPECT_EQ(firstHashes[userId].find(stored), std::string::npos) << "no stored form kept";
    }
    {
        Storage again(path, LowestCostForTests());
        EXPECT_TRUE(again.Authenticate("amy", "ab+cd/ef==").Value());
    }
    EXPECT_EQ(PasswordColumn(path), firstHashes) << "converted once, not hashed again";
}

TEST(Passwords, NewAccountsGetAnInteractiveCostHashOfTheStoredForm) {
    testing_support::TempFolder folder;
    const std::string path = folder / "cost.db";
    Storage storage(path);
    ASSERT_EQ(storage.CreateAccount("jdoe", ScramblePassword("secret"), 1).Value(),
              CreateResult::Created);
    const std::string hash = PasswordColumn(path)["jdoe"];
    EXPECT_EQ(hash.rfind("$argon2id$v=19$m=65536,t=2,p=1$", 0), 0u) << hash;
    EXPECT_TRUE(storage.Authenticate("jdoe", ScramblePassword("secret")).Value());

    ASSERT_TRUE(storage.SetPassword("jdoe", "n+w/=").Value());
    EXPECT_TRUE(IsPasswordHash(PasswordColumn(path)["jdoe"]));
    EXPECT_FALSE(storage.Authenticate("jdoe", ScramblePassword("secret")).Value());
    EXPECT_TRUE(storage.Authenticate("jdoe", "n+w/=").Value());
}

class LoginTest : public ::testing::Test {
protected:
    static std::string SetIp(const std::string& id, const std::string& pswd) {
        return Call("setip", {{"id", id}, {"pswd", pswd}, {"host", "PC"}, {"ip", "192.0.2.7"}});
    }
    static ServerSetup WithLimits(int accountBurst, int addressBurst) {
        auto setup = RunningServer::DefaultSetup();
        // Draining slowly enough that nothing is forgotten while a test runs.
        setup.Logins.Limits.PerAccount = {accountBurst, std::chrono::minutes(10)};
        setup.Logins.Limits.PerAddress = {addressBurst, std::chrono::minutes(10)};
        return setup;
    }
};

TEST_F(LoginTest, RightPasswordsAreRememberedWrongOnesAlwaysCheckedInFull) {
    RunningServer server;
    server.AddAccount("jdoe", "secret");
    Authenticator& logins = server.Actions().LoginsForTests();
    const std::string right = ScramblePassword("secret");

    ASSERT_EQ(SetIp("jdoe", right), "OK");
    const auto afterFirst = logins.FullChecksForTests();
    EXPECT_EQ(SetIp("jdoe", right), "OK");
    EXPECT_EQ(SetIp("JDOE", right), "OK") << "the same login in other case";
    EXPECT_EQ(logins.FullChecksForTests(), afterFirst) << "a remembered login pays no hash check";

    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(SetIp("jdoe", right + "x"), "ERR Invalid ID or password");
        EXPECT_EQ(logins.FullChecksForTests(), afterFirst + i)
            << "every wrong try is checked in full";
    }
    EXPECT_EQ(SetIp("nobody", right), "ERR Invalid ID or password");
    EXPECT_EQ(logins.FullChecksForTests(), afterFirst + 4) << "an unknown ID costs the same";
    EXPECT_EQ(logins.RememberedLoginsForTests(), 1u);
}

TEST_F(LoginTest, AChangedPasswordEndsTheRememberedLogin) {
    RunningServer server;
    server.AddAccount("jdoe", "secret");
    const std::string old = ScramblePassword("secret");
    ASSERT_EQ(SetIp("jdoe", old), "OK");
    // As the administration command does it, from another process: only the database changes.
    ASSERT_TRUE(Storage(server.DatabasePath(), LowestCostForTests())
                    .SetPassword("jdoe", ScramblePassword("new"))
                    .Value());
    EXPECT_EQ(SetIp("jdoe", old), "ERR Invalid ID or password");
    EXPECT_EQ(SetIp("jdoe", ScramblePassword("new")), "OK");
    ASSERT_TRUE(Storage(server.DatabasePath(), LowestCostForTests()).DeleteAccount("jdoe").Value());
    EXPECT_EQ(SetIp("jdoe", ScramblePassword("new")), "ERR Invalid ID or password");
}

TEST_F(LoginTest, FailedLoginsAreLimitedPerAccount) {
    RunningServer server(WithLimits(3, 100));
    server.AddAccount("jdoe", "secret");
    server.AddAccount("amy", "amy");
    const std::string right = ScramblePassword("secret");
    ASSERT_EQ(SetIp("jdoe", right), "OK"); // remembered before the attack
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(SetIp("jdoe", "guess" + std::to_string(i)), "ERR Invalid ID or password");
    }
    const auto checks = server.Actions().LoginsForTests().FullChecksForTests();
    EXPECT_EQ(SetIp("jdoe", "guess"), "ERR Too many failed logins, try again later");
    EXPECT_EQ(server.Actions().LoginsForTests().FullChecksForTests(), checks)
        << "refused without a check";
    EXPECT_EQ(SetIp("jdoe", right), "OK") << "the owner's remembered login still works";
    EXPECT_EQ(SetIp("amy", ScramblePassword("amy")), "OK") << "other accounts are not held";
}

TEST_F(LoginTest, FailedLoginsAreLimitedPerAddress) {
    RunningServer server(WithLimits(100, 4));
    server.AddAccount("jdoe", "secret");
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(SetIp("user" + std::to_string(i), "x"), "ERR Invalid ID or password");
    }
    EXPECT_EQ(SetIp("jdoe", ScramblePassword("secret")),
              "ERR Too many failed logins, try again later")
        << "a new login from that address waits";
}

TEST_F(LoginTest, FailedLoginsFromOneIPv6BlockAreLimitedTogether) {
    RunningServer server(WithLimits(100, 2));
    server.AddAccount("jdoe", "secret");
    Authenticator& logins = server.Actions().LoginsForTests();
    // Each try from another address of the same /64, as a client that owns the block could.
    EXPECT_EQ(logins.Login("jdoe", "guess", "2001:db8:5:6::1")->Outcome, LoginOutcome::Refused);
    EXPECT_EQ(logins.Login("jdoe", "guess", "2001:db8:5:6::2")->Outcome, LoginOutcome::Refused);
    EXPECT_EQ(logins.Login("jdoe", ScramblePassword("secret"), "2001:db8:5:6:a::3")->Outcome,
              LoginOutcome::Throttled);
    EXPECT_EQ(logins.Login("jdoe", ScramblePassword("secret"), "2001:db8:5:7::1")->Outcome,
              LoginOutcome::Accepted)
        << "the next block is not held";
}

} // namespace
