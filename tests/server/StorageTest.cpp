#include "server/Storage.h"

#include "server/MemoryView.h"
#include "server/Sqlite.h"
#include "tests/server/RunningServer.h"

#include <gtest/gtest.h>

namespace {

using namespace server;

TEST(Storage, KeepsEverythingInOneWalDatabaseAcrossRestarts) {
    testing_support::TempFolder folder;
    const std::string path = folder / "keep.db";
    HostNumber number = 0;
    {
        Storage storage(path, LowestCostForTests());
        ASSERT_EQ(storage.CreateAccount("jdoe", "stored", 1), CreateResult::Created);
        ASSERT_EQ(storage.CreateAccount("amy", "stored2", 1), CreateResult::Created);
        const AccountKey jdoe = *storage.FindAccount("jdoe");
        number = *storage.RecordAddress(jdoe, "PC", "192.0.2.7", 5, "0.3.11.25");
        ASSERT_EQ(storage.OfferHosts(jdoe, "amy", {number}, 6).Result, OfferResult::Recorded);
        storage.SetOfferedVersion("0.3.12.30");
    }
    Storage storage(path, LowestCostForTests());
    const AccountKey amy = *storage.Authenticate("amy", "stored2");
    const auto offered = storage.HostsOfferedTo(amy);
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(offered[0].Number, number);
    EXPECT_EQ(offered[0].Owner, "jdoe");
    EXPECT_EQ(offered[0].Address, "192.0.2.7");
    EXPECT_EQ(offered[0].Reported, 5);
    EXPECT_EQ(storage.OfferedVersion(), "0.3.12.30");

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
    EXPECT_THROW(Storage{path}, StorageError);
}

TEST(Storage, DeletingAnAccountRemovesItsHostsAndOffers) {
    testing_support::TempFolder folder;
    Storage storage(folder / "delete.db", LowestCostForTests());
    storage.CreateAccount("jdoe", "s", 1);
    storage.CreateAccount("amy", "s", 1);
    const AccountKey jdoe = *storage.FindAccount("jdoe");
    const AccountKey amy = *storage.FindAccount("amy");
    const HostNumber pc = *storage.RecordAddress(jdoe, "PC", "192.0.2.7", 5, "");
    storage.RecordAddress(amy, "HOME", "192.0.2.8", 5, "");
    ASSERT_EQ(storage.OfferHosts(jdoe, "amy", {pc}, 6).Result, OfferResult::Recorded);

    ASSERT_TRUE(storage.DeleteAccount("JDOE"));
    EXPECT_TRUE(storage.HostsOfferedTo(amy).empty());
    ASSERT_EQ(storage.AllHosts().size(), 1u);
    EXPECT_EQ(storage.AllHosts()[0].Owner, "amy");
}

// The memory view changes only the account concerned; after every change it must show what a
// view loaded afresh from the file shows.
TEST(Storage, TheMemoryViewFollowsEveryAccountChangeAsAFreshLoadWouldShowIt) {
    testing_support::TempFolder folder;
    const std::string path = folder / "view.db";
    Storage storage(path, LowestCostForTests());
    const auto expectSameAsFresh = [&](const std::string& step) {
        Storage fresh(path, LowestCostForTests());
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
    ASSERT_EQ(storage.CreateAccount("JDoe", "s1", 1), CreateResult::Created);
    ASSERT_EQ(storage.CreateAccount("amy", "s2", 1), CreateResult::Created);
    ASSERT_EQ(storage.CreateAccount("jdoe", "other", 1), CreateResult::AlreadyExists);
    expectSameAsFresh("created");
    storage.RecordAddress(1, "PC", "192.0.2.7", 5, "");
    storage.RecordAddress(2, "PC", "192.0.2.8", 5, "");
    storage.RecordAddress(2, "HOME", "192.0.2.9", 5, "");
    expectSameAsFresh("reported");
    ASSERT_TRUE(storage.SetPassword("jdoe", "s3"));
    ASSERT_FALSE(storage.SetPassword("zed", "s4"));
    expectSameAsFresh("password changed");
    EXPECT_TRUE(storage.Authenticate("jdoe", "s3"));
    ASSERT_TRUE(storage.DeleteAccount("JDOE"));
    ASSERT_FALSE(storage.DeleteAccount("zed"));
    expectSameAsFresh("deleted");
    EXPECT_EQ(storage.View().RecordedAddress(1, "PC"), "") << "the deleted account's host";
    EXPECT_EQ(storage.View().RecordedAddress(2, "PC"), "192.0.2.8") << "another's, same name";
}

TEST(Storage, AnAccountHasABoundedNumberOfHosts) {
    testing_support::TempFolder folder;
    Storage storage(folder / "bounded.db", LowestCostForTests());
    storage.CreateAccount("jdoe", "s", 1);
    const AccountKey jdoe = *storage.FindAccount("jdoe");
    for (std::int64_t i = 0; i < kMaxHostsPerAccount; ++i) {
        ASSERT_TRUE(storage.RecordAddress(jdoe, "PC" + std::to_string(i), "", 1, ""));
    }
    EXPECT_FALSE(storage.RecordAddress(jdoe, "ONE-MORE", "192.0.2.7", 2, ""));
    EXPECT_TRUE(storage.RecordAddress(jdoe, "PC0", "192.0.2.7", 2, "")) << "known hosts report on";
    EXPECT_EQ(storage.HostsOf(jdoe).size(), static_cast<std::size_t>(kMaxHostsPerAccount));
}

TEST(Storage, EmptyStoredPasswordNeverAuthenticates) {
    testing_support::TempFolder folder;
    Storage storage(folder / "empty.db");
    storage.CreateAccount("blank", "", 1);
    EXPECT_FALSE(storage.Authenticate("blank", ""));
}

TEST(Storage, UnopenableFileIsAStorageError) {
    testing_support::TempFolder folder;
    EXPECT_THROW(Storage{folder / "missing/folder/x.db"}, StorageError);
    const std::string notADatabase = folder / "text.db";
    std::FILE* file = std::fopen(notADatabase.c_str(), "w");
    std::fputs("this is not a database, just some text that is long enough to be read\n", file);
    std::fclose(file);
    EXPECT_THROW(Storage{notADatabase}, StorageError);
}

} // namespace
