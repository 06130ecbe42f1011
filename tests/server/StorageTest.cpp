#include "server/Storage.h"

#include "server/MemoryView.h"
#include "server/ReportWriter.h"
#include "server/ServiceActions.h"
#include "server/Sqlite.h"
#include "tests/server/RunningServer.h"

#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

namespace {

using namespace server;

void ExpectUnavailable(const std::string& path, const std::string& told = {}) {
    const auto opened = Storage::Open(path, LowestCostForTests());
    ASSERT_FALSE(opened) << path;
    EXPECT_EQ(opened.Failure().Kind, ErrorKind::Unavailable) << path;
    EXPECT_NE(opened.Failure().Message.find(told), std::string::npos) << opened.Failure().Message;
}

TEST(Storage, KeepsEverythingInOneWalDatabaseAcrossRestarts) {
    testing_support::TempFolder folder;
    const std::string path = folder / "keep.db";
    HostNumber number = 0;
    {
        Storage storage(path, LowestCostForTests());
        ASSERT_EQ(storage.CreateAccount("jdoe", "stored", 1).Value(), CreateResult::Created);
        ASSERT_EQ(storage.CreateAccount("amy", "stored2", 1).Value(), CreateResult::Created);
        const AccountKey jdoe = *storage.FindAccount("jdoe").Value();
        number = *storage.RecordAddress(jdoe, "PC", "192.0.2.7", 5, "0.3.11.25").Value();
        ASSERT_EQ(storage.OfferHosts(jdoe, "amy", {number}, 6)->Result, OfferResult::Recorded);
        ASSERT_TRUE(storage.SetOfferedVersion("0.3.12.30"));
    }
    Storage storage(path, LowestCostForTests());
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
    Storage storage(folder / "delete.db", LowestCostForTests());
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
    Storage storage(folder / "bounded.db", LowestCostForTests());
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

// An engine whose database is gone: everything fails, except the batch write of reports when
// told to work; that one can be held at its start, to see what queues up behind it.
class ScriptedEngine final : public StorageEngine {
public:
    // --- the batch write
    bool failWrites = true;
    std::vector<std::size_t> batchSizes;

    void HoldWrites() {
        std::lock_guard lock(mutex_);
        held_ = true;
    }
    void WaitUntilAWriteIsHeld() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return waiting_; });
    }
    void ReleaseWrites() {
        {
            std::lock_guard lock(mutex_);
            held_ = false;
        }
        changed_.notify_all();
    }
    Result<std::vector<ReportOutcome>>
    WriteReports(const std::vector<AddressReport>& reports) override {
        std::unique_lock lock(mutex_);
        waiting_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !held_; });
        waiting_ = false;
        batchSizes.push_back(reports.size());
        if (failWrites) {
            return Gone();
        }
        std::vector<ReportOutcome> outcomes;
        for (const AddressReport& report : reports) {
            outcomes.push_back(report.Host == "FULL" ? ReportOutcome::TooManyHosts
                                                     : ReportOutcome::Recorded);
        }
        return outcomes;
    }

    // --- everything else fails
    static Error Gone() { return Unavailable("disk I/O error"); }
    HashCost Cost() const override { return LowestCostForTests(); }
    Result<CreateResult> CreateAccount(std::string_view, std::string_view, UnixTime) override {
        return Gone();
    }
    Result<bool> SetPassword(std::string_view, std::string_view) override { return Gone(); }
    Result<bool> DeleteAccount(std::string_view) override { return Gone(); }
    Result<std::optional<LoginRecord>> FindLogin(std::string_view) override { return Gone(); }
    Result<std::optional<AccountKey>> FindAccount(std::string_view) override { return Gone(); }
    Result<std::vector<AccountSummary>> ListAccounts() override { return Gone(); }
    Result<std::string> RecordedAddress(AccountKey, std::string_view) override { return Gone(); }
    Result<std::optional<HostNumber>> RecordAddress(AccountKey, std::string_view, std::string_view,
                                                    UnixTime, std::string_view) override {
        return Gone();
    }
    Result<std::vector<HostRecord>> HostsOf(AccountKey) override { return Gone(); }
    Result<std::vector<HostRecord>> AllHosts() override { return Gone(); }
    Result<OfferOutcome> OfferHosts(AccountKey, std::string_view, const std::vector<HostNumber>&,
                                    UnixTime) override {
        return Gone();
    }
    Result<std::vector<HostRecord>> HostsOfferedTo(AccountKey) override { return Gone(); }
    Result<std::int64_t> RemoveOffersBetween(AccountKey, AccountKey) override { return Gone(); }
    Result<std::optional<std::string>> OfferedVersion() override { return Gone(); }
    Result<void> SetOfferedVersion(std::optional<std::string>) override { return Gone(); }
    Result<std::optional<std::string>> Package() override { return Gone(); }
    Result<std::shared_ptr<const std::string>> SharedPackage() override { return Gone(); }
    Result<std::optional<std::int64_t>> PackageSize() override { return Gone(); }
    Result<void> SetPackage(std::optional<std::string>) override { return Gone(); }
    Result<void> CheckWritable() override { return Gone(); }
    const MemoryView& View() const override { return view_; }
    bool ViewMayBeBehind() override { return false; }

private:
    MemoryView view_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool waiting_ = false;
};

AddressReport ReportFor(const std::string& host) {
    return {1, "hash", host, "192.0.2.7", 5, ""};
}

// What the writer told, in the order it told it.
struct Told {
    std::mutex mutex;
    std::vector<std::pair<std::string, ReportOutcome>> outcomes;
    ReportDone For(const std::string& host) {
        return [this, host](ReportOutcome outcome) {
            std::lock_guard lock(mutex);
            outcomes.emplace_back(host, outcome);
        };
    }
};

TEST(ReportWriter, ReportsArrivingDuringAWriteGoTogetherInTheNextAndEachIsToldInOrder) {
    ScriptedEngine engine;
    engine.failWrites = false;
    Told told;
    ReportWriter writer(engine);
    engine.HoldWrites();
    writer.Queue(ReportFor("A"), told.For("A"));
    engine.WaitUntilAWriteIsHeld();
    writer.Queue(ReportFor("B"), told.For("B"));
    writer.Queue(ReportFor("FULL"), told.For("FULL"));
    EXPECT_FALSE(writer.AlreadyRecorded(ReportFor("B"))) << "never while reports wait";
    engine.ReleaseWrites();
    writer.WaitUntilIdle();

    EXPECT_EQ(engine.batchSizes, (std::vector<std::size_t>{1, 2}));
    const std::vector<std::pair<std::string, ReportOutcome>> expected = {
        {"A", ReportOutcome::Recorded},
        {"B", ReportOutcome::Recorded},
        {"FULL", ReportOutcome::TooManyHosts}};
    EXPECT_EQ(told.outcomes, expected);
}

TEST(ReportWriter, AFailedWriteTellsEveryReportOfItsBatchAndStoppingWritesWhatIsQueued) {
    ScriptedEngine engine;
    Told told;
    testing::internal::CaptureStderr();
    {
        ReportWriter writer(engine);
        engine.HoldWrites();
        writer.Queue(ReportFor("A"), told.For("A"));
        engine.WaitUntilAWriteIsHeld();
        writer.Queue(ReportFor("B"), told.For("B"));
        writer.Queue(ReportFor("C"), told.For("C"));
        engine.ReleaseWrites();
    } // gone at once: what is queued is still written and told
    const std::string log = testing::internal::GetCapturedStderr();
    const std::vector<std::pair<std::string, ReportOutcome>> expected = {
        {"A", ReportOutcome::Failed}, {"B", ReportOutcome::Failed}, {"C", ReportOutcome::Failed}};
    EXPECT_EQ(told.outcomes, expected);
    EXPECT_EQ(engine.batchSizes, (std::vector<std::size_t>{1, 2}));
    EXPECT_NE(log.find("corvale-server: storage failure: disk I/O error\n"), std::string::npos)
        << log;
}

// A failing database gives the client the same reply everywhere: try again later.
TEST(FailingStorage, EveryServiceActionRepliesUnavailable) {
    ScriptedEngine engine;
    ServiceActions actions(engine, UpdateOffer{{0, 3, 12, 30}, {}, {}}, [] { return 5; });
    const std::string login = "&id=jdoe&pswd=c2VjcmV0";
    for (const std::string& query :
         {"?action=getip&host=PC" + login, "?action=setip&host=PC&ip=192.0.2.7" + login,
          "?action=gethostlist" + login, "?action=getbuddies" + login,
          "?action=invite&invid=amy&hl=1" + login, "?action=exclude&invid=amy" + login,
          std::string("?action=clver"), std::string("?action=dlupdate")}) {
        testing::internal::CaptureStderr();
        const ServiceReply reply = actions.ReplyTo("/bin/corvale/cmd.php" + query, "192.0.2.1");
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(reply.Status, 503) << query;
        EXPECT_EQ(reply.Body, "ERR Service temporarily unavailable, try again later") << query;
        EXPECT_EQ(log, "corvale-server: storage failure: disk I/O error\n") << query;
    }
}

} // namespace
