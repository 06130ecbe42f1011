#include "server/Storage.h"

#include "server/MemoryView.h"
#include "server/Sqlite.h"
#include "tests/server/RunningServer.h"

#include <gtest/gtest.h>

namespace {

using namespace server;

void ExpectUnavailable(const std::string& path, const std::string& told = {}) {
    const auto opened = Storage::Open(path, LowestCost());
    ASSERT_FALSE(opened) << path;
    EXPECT_EQ(opened.Failure().Kind, ErrorKind::Unavailable) << path;
    EXPECT_NE(opened.Failure().Message.find(told), std::string::npos) << opened.Failure().Message;
}

TEST(Storage, KeepsEverythingInOneWalDatabaseAcrossRestarts) {
    testing_support::TempFolder folder;
    const std::string path = folder / "keep.db";
    HostNumber number = 0;
    {
        Storage storage(path, LowestCost());
        ASSERT_EQ(storage.CreateAccount("jdoe", "stored", 1).Value(), CreateResult::Created);
        ASSERT_EQ(storage.CreateAccount("amy", "stored2", 1).Value(), CreateResult::Created);
        const AccountKey jdoe = *storage.FindAccount("jdoe").Value();
        number = *storage.RecordAddress(jdoe, "PC", "192.0.2.7", 5, "0.3.11.25").Value();
        ASSERT_EQ(storage.OfferHosts(jdoe, "amy", {number}, 6)->Result, OfferResult::Recorded);
        ASSERT_TRUE(storage.SetOfferedVersion("0.3.12.30"));
    }
    Storage storage(path, LowestCost());
    const AccountKey amy = *storage.Authenticate("amy", "stored2").Value();
    const auto offered = storage.HostsOfferedTo(amy).Value();
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(offered[0].Number, number);
    EXPECT_EQ(offered[0].Owner, "jdoe");
    EXPECT_EQ(offered[0].Address, "192.0.2.7");
    EXPECT_EQ(offered[0].Reported, 5);
    EXPECT_EQ(storage.OfferedVersion().Value(), "0.3.12.30");

    Database raw(path);
    Statement mode = raw.Prepare("PRAGMA journal_mode");
    ASSERT_TRUE(mode.Step());
    EXPECT_EQ(mode.Text(0), "wal");
}

TEST(Storage, RefusesADatabaseOfANewerSchema) {
    testing_support::TempFolder folder;
    const std::string path = folder / "newer.db";
    {
        Database raw(path);
        raw.Execute("PRAGMA user_version = 99");
    }
    ExpectUnavailable(path, "newer version");
}

TEST(Storage, DeletingAnAccountRemovesItsHostsAndOffers) {
    testing_support::TempFolder folder;
    Storage storage(folder / "delete.db", LowestCost());
    ASSERT_EQ(storage.CreateAccount("jdoe", "s", 1).Value(), CreateResult::Created);
    ASSERT_EQ(storage.CreateAccount("amy", "s", 1).Value(), CreateResult::Created);
    const AccountKey jdoe = *storage.FindAccount("jdoe").Value();
    const AccountKey amy = *storage.FindAccount("amy").Value();
    const HostNumber pc = *storage.RecordAddress(jdoe, "PC", "192.0.2.7", 5, "").Value();
    ASSERT_TRUE(storage.RecordAddress(amy, "HOME", "192.0.2.8", 5, "").Value());
    ASSERT_EQ(storage.OfferHosts(jdoe, "amy", {pc}, 6)->Result, OfferResult::Recorded);

    ASSERT_TRUE(storage.DeleteAccount("JDOE").Value());
    EXPECT_TRUE(storage.HostsOfferedTo(amy).Value().empty());
    const auto hosts = storage.AllHosts().Value();
    ASSERT_EQ(hosts.size(), 1u);
    EXPECT_EQ(hosts[0].Owner, "amy");
}

// The memory view changes only the account concerned; after every change it must show what a
// view loaded afresh from the file shows.
TEST(Storage, TheMemoryViewFollowsEveryAccountChangeAsAFreshLoadWouldShowIt) {
    testing_support::TempFolder folder;
    const std::string path = folder / "view.db";
    Storage storage(path, LowestCost());
    const auto expectSameAsFresh = [&](const std::string& step) {
        Storage fresh(path, LowestCost());
        for (const std::string userId : {"jdoe", "JDoe", "amy", "zed"}) {
            const auto mine = storage.View().FindLogin(userId);
            const auto loaded = fresh.View().FindLogin(userId);
            ASSERT_EQ(mine.has_value(), loaded.has_value()) << step << ": " << userId;
            if (mine) {
                EXPECT_EQ(mine->Account, loaded->Account) << step << ": " << userId;
                EXPECT_EQ(mine->UserId, loaded->UserId) << step << ": " << userId;
                EXPECT_EQ(mine->PasswordHash, loaded->PasswordHash) << step << ": " << userId;
            }
        }
        for (const AccountKey account : {1, 2}) {
            for (const std::string host : {"PC", "pc", "HOME"}) {
                EXPECT_EQ(storage.View().RecordedAddress(account, host),
                          fresh.View().RecordedAddress(account, host))
                    << step << ": host " << host << " of account " << account;
            }
        }
    };
    ASSERT_EQ(storage.CreateAccount("JDoe", "s1", 1).Value(), CreateResult::Created);
    ASSERT_EQ(storage.CreateAccount("amy", "s2", 1).Value(), CreateResult::Created);
    ASSERT_EQ(storage.CreateAccount("jdoe", "other", 1).Value(), CreateResult::AlreadyExists);
    expectSameAsFresh("created");
    ASSERT_TRUE(storage.RecordAddress(1, "PC", "192.0.2.7", 5, "").Value());
    ASSERT_TRUE(storage.RecordAddress(2, "PC", "192.0.2.8", 5, "").Value());
    ASSERT_TRUE(storage.RecordAddress(2, "HOME", "192.0.2.9", 5, "").Value());
    expectSameAsFresh("reported");
    ASSERT_TRUE(storage.SetPassword("jdoe", "s3").Value());
    ASSERT_FALSE(storage.SetPassword("zed", "s4").Value());
    expectSameAsFresh("password changed");
    EXPECT_TRUE(storage.Authenticate("jdoe", "s3").Value());
    ASSERT_TRUE(storage.DeleteAccount("JDOE").Value());
    ASSERT_FALSE(storage.DeleteAccount("zed").Value());
    expectSameAsFresh("deleted");
    EXPECT_EQ(storage.View().RecordedAddress(1, "PC"), "") << "the deleted account's host";
    EXPECT_EQ(storage.View().RecordedAddress(2, "PC"), "192.0.2.8") << "another's, same name";
}

TEST(Storage, AnAccountHasABoundedNumberOfHosts) {
    testing_support::TempFolder folder;
    Storage storage(folder / "bounded.db", LowestCost());
    ASSERT_EQ(storage.CreateAccount("jdoe", "s", 1).Value(), CreateResult::Created);
    const AccountKey jdoe = *storage.FindAccount("jdoe").Value();
    for (std::int64_t i = 0; i < kMaxHostsPerAccount; ++i) {
        ASSERT_TRUE(storage.RecordAddress(jdoe, "PC" + std::to_string(i), "", 1, "").Value());
    }
    EXPECT_FALSE(storage.RecordAddress(jdoe, "ONE-MORE", "192.0.2.7", 2, "").Value());
    EXPECT_TRUE(storage.RecordAddress(jdoe, "PC0", "192.0.2.7", 2, "").Value())
        << "known hosts report on";
    EXPECT_EQ(storage.HostsOf(jdoe).Value().size(), static_cast<std::size_t>(kMaxHostsPerAccount));
}

TEST(Storage, EmptyStoredPasswordNeverAuthenticates) {
    testing_support::TempFolder folder;
    Storage storage(folder / "empty.db");
    ASSERT_EQ(storage.CreateAccount("blank", "", 1).Value(), CreateResult::Created);
    EXPECT_FALSE(storage.Authenticate("blank", "").Value());
}

TEST(Storage, AFileThatCannotBeOpenedIsUnavailable) {
    testing_support::TempFolder folder;
    ExpectUnavailable(folder / "missing/folder/x.db");
    const std::string notADatabase = folder / "text.db";
    std::FILE* file = std::fopen(notADatabase.c_str(), "w");
    std::fputs("this is not a database, just some text that is long enough to be read\n", file);
    std::fclose(file);
    ExpectUnavailable(notADatabase);
}

} // namespace
