// copy-db: everything of an SQLite database into a new PostgreSQL one and back, equal at the
// end, with the numbers kept and new ones going on after them; refused into a database that
// holds anything.

#include "server/AdminCommands.h"
#include "server/CommandLine.h"
#include "server/Storage.h"
#include "tests/server/RunningServer.h"
#include "tests/server/TestEngines.h"

#include <gtest/gtest.h>
#include <sstream>

namespace {

using namespace server;
using testing_support::EngineKind;

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

Outcome RunCommand(const std::vector<std::string>& args) {
    const auto parsed = ParseCommandLine(args);
    EXPECT_TRUE(parsed) << parsed.Failure().Message;
    std::istringstream in;
    std::ostringstream out, err;
    const int code = RunAdminCommand(*parsed, testing_support::ClientVersion(), in, out, err);
    return {code, out.str(), err.str()};
}

// Everything the service keeps, as text, through the engine-neutral interface.
std::string Dump(const std::string& db) {
    const auto engine = testing_support::OpenForTests(db);
    std::ostringstream text;
    for (const auto& account : engine->ListAccounts().Value()) {
        const auto login = *engine->FindLogin(account.UserId).Value();
        text << "account " << login.Account << ' ' << login.UserId << ' ' << login.PasswordHash
             << ' ' << account.Created << '\n';
        for (const auto& host : engine->HostsOfferedTo(login.Account).Value()) {
            text << "  offered " << host.Number << '\n';
        }
    }
    for (const auto& host : engine->AllHosts().Value()) {
        text << "host " << host.Number << ' ' << host.Owner << ' ' << host.Name << ' '
             << host.Address << ' ' << host.Reported.value_or(-1) << ' ' << host.ClientVersion
             << '\n';
    }
    text << "version " << engine->OfferedVersion().Value().value_or("none") << '\n';
    text << "package " << engine->Package().Value().value_or("none") << '\n';
    return text.str();
}

class CopyDb : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto missing = testing_support::EngineMissingReason(EngineKind::Postgres);
            !missing.empty()) {
            GTEST_SKIP() << missing;
        }
        Storage storage(source, LowestCostForTests());
        for (const char* user : {"jdoe", "gone", "\xC3\x84my", "bob"}) {
            ASSERT_EQ(storage.CreateAccount(user, "stored", 100).Value(), CreateResult::Created);
        }
        const AccountKey jdoe = *storage.FindAccount("jdoe").Value();
        const AccountKey gone = *storage.FindAccount("gone").Value();
        const HostNumber pc =
            *storage.RecordAddress(jdoe, "PC", "192.0.2.7", 5, "0.3.11.25").Value();
        ASSERT_TRUE(storage.RecordAddress(gone, "X", "192.0.2.8", 5, "").Value());
        ASSERT_TRUE(storage.RecordAddress(jdoe, "LAPTOP", "", 6, "").Value());
        ASSERT_EQ(storage.OfferHosts(jdoe, "bob", {pc}, 7)->Result, OfferResult::Recorded);
        ASSERT_EQ(storage.OfferHosts(jdoe, "\xC3\xA4MY", {pc}, 7)->Result,
                  OfferResult::UnknownBuddy);
        ASSERT_EQ(storage.OfferHosts(jdoe, "\xC3\x84my", {pc}, 7)->Result, OfferResult::Recorded);
        // Gaps in the numbers, which the copy keeps.
        ASSERT_TRUE(storage.DeleteAccount("gone").Value());
        ASSERT_TRUE(storage.SetOfferedVersion("0.3.12.30"));
        ASSERT_TRUE(storage.SetPackage(std::string("MZ\0\xFF\x01", 5)));
    }

    testing_support::TempFolder folder;
    std::string source = folder / "source.db";
};

TEST_F(CopyDb, SqliteToPostgresAndBackIsEqualAndNumbersGoOnAfterTheCopied) {
    const std::string postgres = testing_support::NewDatabase(EngineKind::Postgres, folder);
    const Outcome there = RunCommand({"copy-db", source, postgres});
    ASSERT_EQ(there.code, kExitOk) << there.err;
    EXPECT_EQ(there.out, "accounts\t3\nhosts\t2\noffers\t2\nsettings\t2\n");
    EXPECT_EQ(Dump(postgres), Dump(source));

    const std::string back = folder / "back.db";
    const Outcome again = RunCommand({"copy-db", postgres, back});
    ASSERT_EQ(again.code, kExitOk) << again.err;
    EXPECT_EQ(again.out, there.out);
    EXPECT_EQ(Dump(back), Dump(source));

    // New rows of either copy take numbers after the highest copied, never a copied one.
    for (const std::string& copy : {postgres, back}) {
        SCOPED_TRACE(copy);
        const auto engine = testing_support::OpenForTests(copy);
        ASSERT_EQ(engine->CreateAccount("new", "s", 200).Value(), CreateResult::Created);
        const AccountKey added = *engine->FindAccount("new").Value();
        EXPECT_EQ(added, 5) << "after the four accounts made in the source";
        const HostNumber host = *engine->RecordAddress(added, "H", "", 200, "").Value();
        EXPECT_EQ(host, 4) << "after the three hosts made in the source";
    }
}

TEST_F(CopyDb, RefusesATargetThatHoldsAnythingAndLeavesItAsItWas) {
    const std::string postgres = testing_support::NewDatabase(EngineKind::Postgres, folder);
    {
        const auto engine = testing_support::OpenForTests(postgres);
        ASSERT_TRUE(engine->SetOfferedVersion("1.2.3.4"));
    }
    const std::string before = Dump(postgres);
    const Outcome refused = RunCommand({"copy-db", source, postgres});
    EXPECT_EQ(refused.code, kExitUsage);
    EXPECT_NE(refused.err.find("holds data already"), std::string::npos) << refused.err;
    EXPECT_EQ(Dump(postgres), before);

    EXPECT_EQ(RunCommand({"copy-db", source, source}).code, kExitUsage);
    EXPECT_EQ(RunCommand({"copy-db", source}).code, kExitUsage);
    const Outcome unreachable =
        RunCommand({"copy-db", source, testing_support::SharedPostgres().Uri("no_such_database")});
    EXPECT_EQ(unreachable.code, kExitFailure);
}

} // namespace
