// The PostgreSQL engine against a real server the test starts, each case in a database of its
// own: the schema made and kept, what it refuses, how names compare, reports and their limits,
// and a server that goes away and comes back.

#include "server/PgStorage.h"

#include "tests/server/TestPostgres.h"
#include "tests/support/Wait.h"

#include <atomic>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using namespace server;
using testing_support::TestPostgres;

class PgStorageTest : public ::testing::Test {
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
        database_ = NewDatabase();
    }
    // A fresh database of the test's own.
    static std::string NewDatabase(const std::string& locale = {}) {
        static std::atomic<int> count{0};
        const std::string name = "case" + std::to_string(++count);
        EXPECT_TRUE(postgres_->CreateDatabase(name, locale)) << postgres_->Log();
        return postgres_->Uri(name);
    }
    std::unique_ptr<PgStorage> Open() const {
        return std::make_unique<PgStorage>(database_, LowestCostForTests());
    }
    PgConnection Raw() const { return PgConnection(database_); }

    static std::unique_ptr<TestPostgres> postgres_;
    std::string database_;
};
std::unique_ptr<TestPostgres> PgStorageTest::postgres_;

void ExpectUnavailable(const std::string& conninfo, const std::string& told) {
    const auto opened = PgStorage::Open(conninfo, LowestCostForTests());
    ASSERT_FALSE(opened) << conninfo;
    EXPECT_EQ(opened.Failure().Kind, ErrorKind::Unavailable);
    EXPECT_NE(opened.Failure().Message.find(told), std::string::npos) << opened.Failure().Message;
}

TEST_F(PgStorageTest, TheFirstOpenMakesTheSchemaAndLaterOnesKeepEverything) {
    const std::string package("PK\0\x03\xFF", 5);
    HostNumber number = 0;
    {
        auto storage = Open();
        ASSERT_EQ(storage->CreateAccount("jdoe", "stored", 1).Value(), CreateResult::Created);
        ASSERT_EQ(storage->CreateAccount("amy", "stored2", 1).Value(), CreateResult::Created);
        const AccountKey jdoe = *storage->FindAccount("jdoe").Value();
        number = *storage->RecordAddress(jdoe, "PC", "192.0.2.7", 5, "0.3.11.25").Value();
        ASSERT_EQ(storage->OfferHosts(jdoe, "amy", {number}, 6)->Result, OfferResult::Recorded);
        ASSERT_TRUE(storage->SetOfferedVersion("0.3.12.30"));
        ASSERT_TRUE(storage->SetPackage(package));
    }
    auto storage = Open();
    const AccountKey amy = *storage->Authenticate("amy", "stored2").Value();
    const auto offered = storage->HostsOfferedTo(amy).Value();
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(offered[0].Number, number);
    EXPECT_EQ(offered[0].Owner, "jdoe");
    EXPECT_EQ(offered[0].Address, "192.0.2.7");
    EXPECT_EQ(offered[0].Reported, 5);
    EXPECT_EQ(offered[0].ClientVersion, "0.3.11.25");
    EXPECT_EQ(storage->OfferedVersion().Value(), "0.3.12.30");
    EXPECT_EQ(storage->Package().Value(), package);
    EXPECT_EQ(storage->PackageSize().Value(), 5);
    EXPECT_EQ(*storage->SharedPackage().Value(), package);
    EXPECT_EQ(Raw().Execute("SELECT version FROM schema_version").Int(0, 0),
              PgStorage::kSchemaVersion);
    EXPECT_EQ(Raw().Execute("SELECT count(*) FROM schema_version").Int(0, 0), 1)
        << "a second open adds no second version row";
    // The view is loaded from the database on open.
    EXPECT_EQ(storage->View().RecordedAddress(*storage->FindAccount("jdoe").Value(), "pc"),
              "192.0.2.7");
}

TEST_F(PgStorageTest, InstancesOpeningAFreshDatabaseAtOnceMakeTheSchemaOnce) {
    std::atomic<int> opened{0};
    std::vector<std::thread> threads;
    std::vector<std::string> failures(4);
    for (std::size_t i = 0; i < failures.size(); ++i) {
        threads.emplace_back([&, i] {
            auto storage = PgStorage::Open(database_, LowestCostForTests());
            if (storage) {
                ++opened;
            } else {
                failures[i] = storage.Failure().Message;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const auto& failure : failures) {
        EXPECT_EQ(failure, "");
    }
    EXPECT_EQ(opened, 4);
    EXPECT_EQ(Raw().Execute("SELECT count(*) FROM schema_version").Int(0, 0), 1);
}

TEST_F(PgStorageTest, RefusesANewerSchemaAndLeavesNothingOfAFailedOne) {
    {
        PgConnection raw = Raw();
        raw.Execute("CREATE TABLE schema_version(version bigint NOT NULL)");
        raw.Execute("INSERT INTO schema_version VALUES(99)");
    }
    ExpectUnavailable(database_, "newer version");

    // A table of the same name that is not the service's stops the schema half-way: what was
    // made before it goes too.
    const std::string other = NewDatabase();
    PgConnection raw(other);
    raw.Execute("CREATE TABLE hosts(something text)");
    ExpectUnavailable(other, "hosts");
    EXPECT_TRUE(raw.Execute("SELECT to_regclass('schema_version')").IsNull(0, 0));
    EXPECT_TRUE(raw.Execute("SELECT to_regclass('accounts')").IsNull(0, 0));

    ExpectUnavailable(postgres_->Uri("no_such_database"), "no_such_database");
}

TEST_F(PgStorageTest, UserIdsAndHostNamesIgnoreOnlyAsciiCaseWhateverTheDatabasesLocale) {
    for (const std::string& locale : {std::string(), std::string("C.UTF-8")}) {
        SCOPED_TRACE(locale);
        PgStorage storage(NewDatabase(locale), LowestCostForTests());
        ASSERT_EQ(storage.CreateAccount("JDoe", "s", 1).Value(), CreateResult::Created);
        EXPECT_EQ(storage.CreateAccount("jdoe", "t", 1).Value(), CreateResult::AlreadyExists);
        ASSERT_EQ(storage.CreateAccount("\xC3\x84my", "s", 1).Value(), CreateResult::Created);
        EXPECT_EQ(storage.CreateAccount("\xC3\xA4my", "s", 1).Value(), CreateResult::Created)
            << "a letter beyond ASCII in another case is another user ID";
        const auto login = storage.FindLogin("JDOE").Value();
        ASSERT_TRUE(login);
        EXPECT_EQ(login->UserId, "JDoe") << "as spelt when created";

        const AccountKey jdoe = login->Account;
        const HostNumber pc = *storage.RecordAddress(jdoe, "Pc", "192.0.2.1", 5, "").Value();
        EXPECT_EQ(*storage.RecordAddress(jdoe, "PC", "192.0.2.2", 6, "").Value(), pc);
        EXPECT_NE(*storage.RecordAddress(jdoe, "P\xC3\x84", "192.0.2.3", 6, "").Value(), pc);
        EXPECT_NE(*storage.RecordAddress(jdoe, "P\xC3\xA4", "192.0.2.3", 6, "").Value(), pc);
        EXPECT_EQ(storage.RecordedAddress(jdoe, "pc").Value(), "192.0.2.2");
        EXPECT_EQ(storage.HostsOf(jdoe).Value().size(), 3u);

        ASSERT_TRUE(storage.SetPassword("jDOE", "new").Value());
        EXPECT_TRUE(storage.Authenticate("jdoe", "new").Value());
        EXPECT_FALSE(storage.SetPassword("nobody", "new").Value());
        ASSERT_TRUE(storage.DeleteAccount("JDOE").Value());
        EXPECT_FALSE(storage.FindLogin("jdoe").Value());
        EXPECT_FALSE(storage.View().FindLogin("jdoe")) << "the view hears of the removal";
        EXPECT_FALSE(storage.DeleteAccount("jdoe").Value());
    }
}

TEST_F(PgStorageTest, ListsAndOffersInTheOrderAndWithTheRefusalsOfTheSqliteEngine) {
    auto storage = Open();
    for (const char* user : {"bob", "Amy", "carl"}) {
        ASSERT_EQ(storage->CreateAccount(user, "s", 1).Value(), CreateResult::Created);
    }
    const AccountKey amy = *storage->FindAccount("amy").Value();
    const AccountKey bob = *storage->FindAccount("bob").Value();
    const AccountKey carl = *storage->FindAccount("carl").Value();
    const HostNumber amyB = *storage->RecordAddress(amy, "b", "192.0.2.1", 5, "").Value();
    const HostNumber amyA = *storage->RecordAddress(amy, "A", "192.0.2.2", 5, "").Value();
    const HostNumber carlPc = *storage->RecordAddress(carl, "pc", "192.0.2.3", 5, "").Value();

    const auto accounts = storage->ListAccounts().Value();
    ASSERT_EQ(accounts.size(), 3u);
    EXPECT_EQ(accounts[0].UserId, "Amy") << "ordered without regard to case";
    EXPECT_EQ(accounts[0].HostCount, 2);
    EXPECT_EQ(accounts[1].UserId, "bob");
    EXPECT_EQ(accounts[1].HostCount, 0);

    EXPECT_EQ(storage->OfferHosts(amy, "nobody", {amyA}, 6)->Result, OfferResult::UnknownBuddy);
    EXPECT_EQ(storage->OfferHosts(amy, "AMY", {amyA}, 6)->Result, OfferResult::SelfOffer);
    const auto foreign = storage->OfferHosts(amy, "bob", {amyA, carlPc}, 6).Value();
    EXPECT_EQ(foreign.Result, OfferResult::ForeignHost);
    EXPECT_EQ(foreign.ForeignHost, carlPc);
    EXPECT_TRUE(storage->HostsOfferedTo(bob).Value().empty()) << "all or nothing";

    ASSERT_EQ(storage->OfferHosts(amy, "BOB", {amyB, amyA}, 6)->Result, OfferResult::Recorded);
    ASSERT_EQ(storage->OfferHosts(amy, "bob", {amyA}, 7)->Result, OfferResult::Recorded)
        << "offering again is no error";
    ASSERT_EQ(storage->OfferHosts(carl, "bob", {carlPc}, 6)->Result, OfferResult::Recorded);
    ASSERT_EQ(storage->OfferHosts(bob, "carl", {}, 6)->Result, OfferResult::Recorded);
    const auto offered = storage->HostsOfferedTo(bob).Value();
    ASSERT_EQ(offered.size(), 3u);
    EXPECT_EQ(offered[0].Number, amyA);
    EXPECT_EQ(offered[1].Number, amyB);
    EXPECT_EQ(offered[2].Number, carlPc);

    EXPECT_EQ(storage->RemoveOffersBetween(bob, amy).Value(), 2);
    EXPECT_EQ(storage->RemoveOffersBetween(bob, amy).Value(), 0);
    EXPECT_EQ(storage->HostsOfferedTo(bob).Value().size(), 1u);
    const auto all = storage->AllHosts().Value();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].Number, amyB) << "by owner, then by number";
    EXPECT_EQ(all[2].Owner, "carl");

    ASSERT_TRUE(storage->SetPackage(std::nullopt));
    EXPECT_EQ(storage->SharedPackage().Value(), nullptr);
    EXPECT_EQ(storage->PackageSize().Value(), std::nullopt);
    ASSERT_TRUE(storage->SetOfferedVersion(std::nullopt));
    EXPECT_EQ(storage->OfferedVersion().Value(), std::nullopt);
}

TEST_F(PgStorageTest, ABatchWritesOnlyTheReportsWhoseLoginStillHoldsAndKeepsTheHostLimit) {
    auto storage = Open();
    ASSERT_EQ(storage->CreateAccount("jdoe", "s", 1).Value(), CreateResult::Created);
    ASSERT_EQ(storage->CreateAccount("full", "s", 1).Value(), CreateResult::Created);
    const LoginRecord jdoe = *storage->FindLogin("jdoe").Value();
    const LoginRecord full = *storage->FindLogin("full").Value();
    for (std::int64_t i = 0; i < kMaxHostsPerAccount; ++i) {
        ASSERT_TRUE(
            storage->RecordAddress(full.Account, "h" + std::to_string(i), "", 1, "").Value());
    }
    EXPECT_FALSE(storage->RecordAddress(full.Account, "one-more", "", 1, "").Value());

    const std::vector<AddressReport> batch = {
        {jdoe.Account, jdoe.PasswordHash, "PC", "192.0.2.1", 10, "1.0"},
        {jdoe.Account, "an older hash", "LAPTOP", "192.0.2.2", 10, "1.0"},
        {full.Account, full.PasswordHash, "one-more", "192.0.2.3", 10, "1.0"},
        {full.Account, full.PasswordHash, "H7", "192.0.2.4", 10, "1.0"},
        {jdoe.Account, jdoe.PasswordHash, "pc", "192.0.2.5", 11, "1.1"},
    };
    const auto outcomes = storage->WriteReports(batch).Value();
    EXPECT_EQ(outcomes,
              (std::vector<ReportOutcome>{ReportOutcome::Recorded, ReportOutcome::LoginChanged,
                                          ReportOutcome::TooManyHosts, ReportOutcome::Recorded,
                                          ReportOutcome::Recorded}));
    const auto hosts = storage->HostsOf(jdoe.Account).Value();
    ASSERT_EQ(hosts.size(), 1u);
    EXPECT_EQ(hosts[0].Address, "192.0.2.5") << "the later report of the batch holds";
    EXPECT_EQ(hosts[0].ClientVersion, "1.1");
    EXPECT_TRUE(storage->View().Holds(jdoe.Account, "PC", "192.0.2.5", 11, "1.1"));
    EXPECT_EQ(storage->RecordedAddress(full.Account, "h7").Value(), "192.0.2.4");

    // Reports of a known host use up no host numbers.
    const HostNumber next = *storage->RecordAddress(jdoe.Account, "NEW", "", 12, "").Value();
    EXPECT_EQ(next, hosts[0].Number + 1);
}

TEST_F(PgStorageTest, TwoInstancesReportingTheSameNewHostsAtOnceMakeOneRowEach) {
    auto first = Open();
    auto second = Open();
    ASSERT_EQ(first->CreateAccount("jdoe", "s", 1).Value(), CreateResult::Created);
    const LoginRecord jdoe = *second->FindLogin("jdoe").Value();
    constexpr int kHosts = 40;
    std::vector<std::string> failures;
    std::mutex failuresMutex;
    const auto report = [&](PgStorage& storage, const std::string& address) {
        for (int i = 0; i < kHosts; ++i) {
            const std::string host = "H" + std::to_string(i);
            const auto written = storage.WriteReports(
                {{jdoe.Account, jdoe.PasswordHash, host, address, 10 + i, ""}});
            if (!written || written.Value() != std::vector{ReportOutcome::Recorded}) {
                std::lock_guard lock(failuresMutex);
                failures.push_back(host + ": " +
                                   (written ? "not recorded" : written.Failure().Message));
            }
        }
    };
    std::thread a([&] { report(*first, "192.0.2.1"); });
    std::thread b([&] { report(*second, "192.0.2.2"); });
    a.join();
    b.join();
    EXPECT_TRUE(failures.empty()) << failures.front();
    const auto hosts = first->HostsOf(jdoe.Account).Value();
    EXPECT_EQ(hosts.size(), std::size_t{kHosts}) << "no host twice";
}

TEST_F(PgStorageTest, AnswersUnavailableWhileTheServerIsDownAndRecoversByItself) {
    auto storage = Open();
    ASSERT_EQ(storage->CreateAccount("jdoe", "s", 1).Value(), CreateResult::Created);
    const LoginRecord jdoe = *storage->FindLogin("jdoe").Value();
    ASSERT_TRUE(storage->CheckWritable());

    ASSERT_TRUE(postgres_->Stop());
    const AddressReport report{jdoe.Account, jdoe.PasswordHash, "PC", "192.0.2.1", 10, ""};
    const auto written = storage->WriteReports({report});
    ASSERT_FALSE(written);
    EXPECT_EQ(written.Failure().Kind, ErrorKind::Unavailable);
    EXPECT_FALSE(storage->CheckWritable());
    EXPECT_FALSE(storage->FindLogin("jdoe"));
    EXPECT_FALSE(storage->View().Holds(jdoe.Account, "PC", "192.0.2.1", 10, ""));

    ASSERT_TRUE(postgres_->Start()) << postgres_->Log();
    // A change made elsewhere while the engine was cut off reaches its view on reconnecting.
    Raw().Query("UPDATE accounts SET password = $1", {"changed elsewhere"});
    EXPECT_TRUE(testing_support::WaitUntil([&] { return bool(storage->CheckWritable()); }))
        << "no reconnection";
    EXPECT_EQ(storage->View().FindLogin("jdoe")->PasswordHash, "changed elsewhere");
    EXPECT_EQ(storage->WriteReports({report}).Value(),
              std::vector<ReportOutcome>{ReportOutcome::LoginChanged});
}

TEST_F(PgStorageTest, AWriteThatMeetsAHeldLockFailsInBoundedTimeAndALaterOneSucceeds) {
    auto storage = Open();
    ASSERT_EQ(storage->CreateAccount("jdoe", "s", 1).Value(), CreateResult::Created);
    const AccountKey jdoe = *storage->FindAccount("jdoe").Value();
    PgConnection holder = Raw();
    holder.Execute("BEGIN");
    holder.Execute("LOCK TABLE accounts, hosts IN ACCESS EXCLUSIVE MODE");
    auto write = std::async(std::launch::async, [&] {
        return storage->RecordAddress(jdoe, "PC", "192.0.2.1", 10, "");
    });
    const bool ended = write.wait_for(testing_support::Scaled(std::chrono::seconds{60})) ==
                       std::future_status::ready;
    holder.Execute("ROLLBACK"); // ends a wait that had no bound
    const auto written = write.get();
    ASSERT_TRUE(ended) << "the write waited for the lock with no bound";
    ASSERT_FALSE(written);
    EXPECT_EQ(written.Failure().Kind, ErrorKind::Unavailable);
    EXPECT_NE(written.Failure().Message.find("statement timeout"), std::string::npos)
        << written.Failure().Message;
    EXPECT_FALSE(storage->View().Holds(jdoe, "PC", "192.0.2.1", 10, ""));

    ASSERT_TRUE(storage->RecordAddress(jdoe, "PC", "192.0.2.2", 11, "").Value());
    EXPECT_EQ(storage->RecordedAddress(jdoe, "PC").Value(), "192.0.2.2");
}

TEST_F(PgStorageTest, CannotWriteToADatabaseThatRefusesWrites) {
    auto storage = Open();
    ASSERT_TRUE(storage->CheckWritable());
    // As on a standby: every transaction is read-only.
    const std::string readOnly = database_ + "&options=-c%20default_transaction_read_only%3Don";
    PgStorage reader(readOnly, LowestCostForTests());
    const auto checked = reader.CheckWritable();
    ASSERT_FALSE(checked);
    EXPECT_EQ(checked.Failure().Kind, ErrorKind::Unavailable);
    EXPECT_FALSE(reader.CreateAccount("jdoe", "s", 1));
    EXPECT_TRUE(reader.ListAccounts()) << "reading still works";
}

TEST_F(PgStorageTest, EveryInstancesViewHearsWhatAnotherOneCommitted) {
    auto a = Open();
    auto b = Open();
    const auto bSees = [&](const std::function<bool(const MemoryView&)>& holds) {
        return testing_support::WaitUntil([&] { return holds(b->View()); });
    };
    ASSERT_EQ(a->CreateAccount("jdoe", "s", 1).Value(), CreateResult::Created);
    ASSERT_TRUE(bSees([](const MemoryView& view) { return view.FindLogin("JDOE").has_value(); }));
    const LoginRecord jdoe = *b->View().FindLogin("jdoe");

    ASSERT_TRUE(a->SetPassword("jdoe", "new").Value());
    const std::string newHash = a->View().FindLogin("jdoe")->PasswordHash;
    EXPECT_TRUE(bSees(
        [&](const MemoryView& view) { return view.FindLogin("jdoe")->PasswordHash == newHash; }));

    // Several reports of one batch, a host name in another case among them.
    ASSERT_EQ(a->WriteReports({{jdoe.Account, newHash, "PC", "192.0.2.1", 10, "1.0"},
                               {jdoe.Account, newHash, "laptop", "192.0.2.2", 10, "1.0"},
                               {jdoe.Account, newHash, "pc", "192.0.2.3", 11, "1.0"}})
                  .Value()
                  .size(),
              3u);
    EXPECT_TRUE(bSees([&](const MemoryView& view) {
        return view.Holds(jdoe.Account, "PC", "192.0.2.3", 11, "1.0") &&
               view.RecordedAddress(jdoe.Account, "LAPTOP") == "192.0.2.2";
    }));
    ASSERT_TRUE(a->RecordAddress(jdoe.Account, "PC", "192.0.2.4", 12, "").Value());
    EXPECT_TRUE(bSees([&](const MemoryView& view) {
        return view.RecordedAddress(jdoe.Account, "pc") == "192.0.2.4";
    }));

    // A batch too large for one notification.
    std::vector<AddressReport> many;
    for (int i = 0; i < 200; ++i) {
        many.push_back({jdoe.Account, newHash, "host-with-a-long-name-" + std::to_string(i),
                        "192.0.2.9", 13, ""});
    }
    ASSERT_TRUE(a->WriteReports(many));
    EXPECT_TRUE(bSees([&](const MemoryView& view) {
        return view.RecordedAddress(jdoe.Account, "host-with-a-long-name-0") == "192.0.2.9" &&
               view.RecordedAddress(jdoe.Account, "host-with-a-long-name-199") == "192.0.2.9";
    }));

    ASSERT_TRUE(a->DeleteAccount("JDOE").Value());
    EXPECT_TRUE(bSees([&](const MemoryView& view) {
        return !view.FindLogin("jdoe") && view.RecordedAddress(jdoe.Account, "pc").empty();
    }));
}

TEST_F(PgStorageTest, AViewLoadsEverythingAfreshWhenItsListeningConnectionWasLost) {
    auto storage = Open();
    ASSERT_EQ(storage->CreateAccount("jdoe", "s", 1).Value(), CreateResult::Created);
    PgConnection raw = Raw();
    raw.Execute("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                "WHERE datname = current_database() AND pid <> pg_backend_pid()");
    // Unannounced, as a change while no one listened would be.
    raw.Query("UPDATE accounts SET password = $1", {"changed unheard"});
    EXPECT_TRUE(testing_support::WaitUntil(
        [&] { return storage->View().FindLogin("jdoe")->PasswordHash == "changed unheard"; }));
    EXPECT_TRUE(testing_support::WaitUntil([&] { return bool(storage->CheckWritable()); }))
        << "the requests' connection is made again as well";
}

} // namespace
