// The backup and check commands: a copy of the live database taken while reports are being
// written, and the check that tells an intact database file from a damaged one.

#include "server/Backup.h"

#include "server/AdminCommands.h"
#include "server/CommandLine.h"
#include "server/Storage.h"
#include "tests/server/ReportStorm.h"
#include "tests/server/RunningServer.h"
#include "tests/server/TestEngines.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Wait.h"
#include "util/uBase64.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <sqlite3.h>
#include <sstream>

namespace {

using testing_support::ReportStorm;
using testing_support::RunningServer;

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

Outcome Command(const std::string& database, std::vector<std::string> args) {
    args.insert(args.begin(), {"--db", database});
    const auto parsed = server::ParseCommandLine(args);
    EXPECT_TRUE(parsed) << parsed.Failure().Message;
    std::istringstream in;
    std::ostringstream out, err;
    const int code =
        server::RunAdminCommand(*parsed, server::ProductVersion{0, 3, 11, 25}, in, out, err);
    return {code, out.str(), err.str()};
}

// The address each host of `userId` has in the database `database`.
std::map<std::string, std::string> AddressesIn(const std::string& database,
                                               const std::string& userId) {
    const auto engine = testing_support::OpenForTests(database);
    const auto account = engine->FindAccount(userId);
    EXPECT_TRUE(account && *account);
    std::map<std::string, std::string> addresses;
    const auto hosts =
        account && *account
            ? engine->HostsOf(**account)
            : server::Result<std::vector<server::HostRecord>>(server::Unavailable("no account"));
    if (hosts) {
        for (const server::HostRecord& host : *hosts) {
            addresses[host.Name] = host.Address;
        }
    }
    return addresses;
}

// A database of the service with a few hundred hosts, closed again.
void MakeDatabase(const std::string& path) {
    server::Storage storage(path, server::LowestCostForTests());
    for (int a = 0; a < 3; ++a) {
        const std::string user = "user" + std::to_string(a);
        ASSERT_TRUE(storage.CreateAccount(user, "x", 1'700'000'000));
        const auto account = *storage.FindAccount(user);
        for (int h = 0; h < 200; ++h) {
            ASSERT_TRUE(storage.RecordAddress(*account, "host-" + std::to_string(h),
                                              "192.0.2." + std::to_string(h % 250), 1'700'000'000,
                                              "0.3.11.25"));
        }
    }
}

TEST(Backup, TakenDuringAWriteStormIsIntactAndHoldsEveryReportAcknowledgedBefore) {
    RunningServer server;
    server.AddAccount("jdoe", "secret");
    for (int h = 0; h < 200; ++h) { // pages enough for many steps
        const auto account = *server.Storage().FindAccount("jdoe");
        ASSERT_TRUE(server.Storage().RecordAddress(*account, "filler-" + std::to_string(h),
                                                   "192.0.2.1", 1'700'000'000, "0.3.11.25"));
    }
    ReportStorm storm(server.Port(), "jdoe", ScramblePassword("secret"), 4);
    ASSERT_TRUE(storm.WaitForAcknowledged(20));
    std::vector<int> before;
    for (int c = 0; c < storm.Clients(); ++c) {
        before.push_back(storm.Acknowledged(c, 0));
    }
    const int acknowledgedBefore = storm.TotalAcknowledged();
    const std::string copy = server.Folder() / "copy.db";
    // One page a step: the writers' commits fall between the steps.
    const auto copied = server::BackupDatabase(server.DatabasePath(), copy, {.PagesPerStep = 1});
    ASSERT_TRUE(copied) << copied.Failure().Message;
    const int acknowledgedDuring = storm.TotalAcknowledged() - acknowledgedBefore;
    ASSERT_TRUE(storm.WaitForAcknowledged(40)) << "the service goes on after the backup";
    storm.Stop();
    std::cout << "backup of " << copied->Pages << " pages while " << acknowledgedDuring
              << " reports were acknowledged\n";

    const auto checked = server::CheckDatabase(copy);
    ASSERT_TRUE(checked) << checked.Failure().Message;
    EXPECT_EQ(*checked, std::vector<std::string>());
    const auto addresses = AddressesIn(copy, "jdoe");
    for (int c = 0; c < storm.Clients(); ++c) {
        const auto found = addresses.find(ReportStorm::HostName(c, 0));
        ASSERT_NE(found, addresses.end()) << ReportStorm::HostName(c, 0);
        const auto sequence = ReportStorm::SequenceOf(found->second);
        ASSERT_TRUE(sequence) << found->second;
        EXPECT_GE(*sequence, before[static_cast<std::size_t>(c)])
            << "a report acknowledged before the backup is missing from the copy";
        EXPECT_LE(*sequence, storm.Sent(c, 0));
    }
    EXPECT_EQ(addresses.size(), 204u) << "every host, the fillers with the storm's";
}

// The command of the program, from a process of its own, beside the serving program.
TEST(Backup, ByTheProgramBesideTheServingProgram) {
    testing_support::TempFolder folder;
    const std::string database = folder / "service.db";
    const auto program = [](const std::vector<std::string>& args) {
        return std::make_unique<testing_support::ChildProcess>(
            CORVALE_SERVER_PROGRAM, args, testing_support::ChildSetup{.PipeOutput = true});
    };
    ASSERT_EQ(program({"--db", database, "add-account", "jdoe", "secret"})->WaitForExit(), 0);
    const auto serve = program({"--db", database, "--listen", "127.0.0.1:0"});
    const std::string banner = serve->ReadLine();
    const std::string prefix = "corvale-server listening on 127.0.0.1:";
    ASSERT_EQ(banner.rfind(prefix, 0), 0u) << banner;
    const auto port = static_cast<std::uint16_t>(std::stoi(banner.substr(prefix.size())));
    ReportStorm storm(port, "jdoe", ScramblePassword("secret"), 3, 8);
    ASSERT_TRUE(storm.WaitForAcknowledged(20));
    std::map<std::string, int> before;
    for (int c = 0; c < storm.Clients(); ++c) {
        for (int h = 0; h < storm.Hosts(); ++h) {
            before[ReportStorm::HostName(c, h)] = storm.Acknowledged(c, h);
        }
    }
    const std::string copy = folder / "copy.db";
    const auto backup = program({"--db", database, "backup", copy});
    const std::string said = backup->ReadAll();
    EXPECT_EQ(backup->WaitForExit(), 0) << said;
    EXPECT_EQ(said.rfind("copied " + database + " to " + copy, 0), 0u) << said;
    const auto liveCheck = program({"--db", database, "check"});
    EXPECT_EQ(liveCheck->ReadAll(), "ok: " + database + " is intact\n") << "checked while served";
    EXPECT_EQ(liveCheck->WaitForExit(), 0);
    const int acknowledged = storm.TotalAcknowledged();
    EXPECT_TRUE(testing_support::WaitUntil([&] {
        return storm.TotalAcknowledged() > acknowledged;
    })) << "the service goes on";
    storm.Stop();
    serve->Stop();

    const auto check = program({"--db", copy, "check"});
    EXPECT_EQ(check->ReadAll(), "ok: " + copy + " is intact\n");
    EXPECT_EQ(check->WaitForExit(), 0);
    const auto addresses = AddressesIn(copy, "jdoe");
    for (const auto& [host, acked] : before) {
        const auto found = addresses.find(host);
        ASSERT_NE(found, addresses.end()) << host;
        EXPECT_GE(ReportStorm::SequenceOf(found->second).value_or(0), acked)
            << host << ": a report acknowledged before the backup is missing from the copy";
    }
}

TEST(Backup, ReplacesAnEarlierCopyWithoutTheLogLeftBesideIt) {
    testing_support::TempFolder folder;
    const std::string database = folder / "service.db";
    MakeDatabase(database);
    const std::string copy = folder / "copy.db";
    ASSERT_EQ(Command(database, {"backup", copy}).code, server::kExitOk);
    // A log beside the copy, as an earlier opening of it may leave: it belongs to the old copy.
    {
        server::Storage old(copy, server::LowestCostForTests());
        ASSERT_TRUE(old.CreateAccount("only-in-the-old-copy", "x", 1'700'000'000));
        std::filesystem::copy_file(copy + "-wal", folder / "kept-wal");
    }
    std::filesystem::copy_file(folder / "kept-wal", copy + "-wal");

    const Outcome again = Command(database, {"backup", copy});
    EXPECT_EQ(again.code, server::kExitOk) << again.err;
    EXPECT_NE(again.out.find("copied " + database + " to " + copy + " ("), std::string::npos)
        << again.out;
    EXPECT_FALSE(std::filesystem::exists(copy + "-wal"));
    EXPECT_FALSE(std::filesystem::exists(copy + ".partial"));
    EXPECT_EQ(Command(copy, {"check"}).code, server::kExitOk);
    const auto engine = testing_support::OpenForTests(copy);
    EXPECT_FALSE(*engine->FindAccount("only-in-the-old-copy"));
    EXPECT_TRUE(*engine->FindAccount("user2"));
}

TEST(Backup, RefusalsAndFailuresLeaveTheEarlierCopy) {
    testing_support::TempFolder folder;
    const std::string database = folder / "service.db";
    MakeDatabase(database);
    const std::string copy = folder / "copy.db";
    ASSERT_EQ(Command(database, {"backup", copy}).code, server::kExitOk);
    const auto copySize = std::filesystem::file_size(copy);
    std::filesystem::create_hard_link(database, folder / "link.db");
    // The service's log, as a running service keeps it.
    server::Storage running(database, server::LowestCostForTests());
    ASSERT_TRUE(running.CreateAccount("in-the-log", "x", 1'700'000'000));
    struct Case {
        std::string database;
        std::vector<std::string> args;
        int code;
        std::string says;
    };
    const Case kCases[] = {
        {database, {"backup"}, server::kExitUsage, "backup takes the file"},
        {database, {"backup", copy, "more"}, server::kExitUsage, "backup takes the file"},
        {database, {"check", "more"}, server::kExitUsage, "check takes no arguments"},
        {folder / "missing.db", {"backup", copy}, server::kExitFailure, "no database file"},
        {database, {"backup", folder / "no/such/folder.db"}, server::kExitFailure, "cannot"},
        {database, {"backup", database}, server::kExitUsage, "would replace the database"},
        {database, {"backup", folder / "./service.db"}, server::kExitUsage, "would replace"},
        {database, {"backup", database + "-wal"}, server::kExitUsage, "would replace"},
        {database, {"backup", folder / "link.db"}, server::kExitUsage, "would replace"},
        {"postgresql://localhost/corvale", {"backup", copy}, server::kExitFailure, "pg_dump"},
        {"postgres:///corvale", {"check"}, server::kExitFailure, "amcheck"},
    };
    for (const Case& c : kCases) {
        const Outcome outcome = Command(c.database, c.args);
        EXPECT_EQ(outcome.code, c.code) << c.args[0] << ' ' << c.database;
        EXPECT_NE(outcome.err.find(c.says), std::string::npos) << outcome.err;
        EXPECT_EQ(outcome.out, "");
    }
    EXPECT_EQ(Command("postgres:///corvale", {"check"}).err.find('\n'),
              Command("postgres:///corvale", {"check"}).err.size() - 1)
        << "one line";
    EXPECT_FALSE(std::filesystem::exists(folder / "missing.db")) << "no database is made";
    EXPECT_EQ(std::filesystem::file_size(copy), copySize);
    EXPECT_EQ(Command(copy, {"check"}).code, server::kExitOk);
    EXPECT_TRUE(std::filesystem::exists(database + "-wal"));
    EXPECT_TRUE(*running.FindAccount("in-the-log"));
    const auto reopened = testing_support::OpenForTests(database);
    EXPECT_TRUE(*reopened->FindAccount("in-the-log")) << "the database and its log are whole";
}

// Overwrites `bytes` at `offset` of the file.
void Overwrite(const std::string& path, std::uintmax_t offset, const std::string& bytes) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Runs SQL on the file with references not enforced.
void RunSql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
}

TEST(Check, TellsAnIntactDatabaseFromADamagedOne) {
    testing_support::TempFolder folder;
    const std::string good = folder / "good.db";
    MakeDatabase(good);
    struct Case {
        std::string name;
        std::function<void(const std::string&)> damage;
        int code;
        std::string says; // in the standard output, or the error output when it failed early
    };
    const Case kCases[] = {
        {"intact", [](const std::string&) {}, server::kExitOk, "ok: "},
        {"b-tree pages overwritten",
         [](const std::string& path) {
             const auto size = std::filesystem::file_size(path);
             for (std::uintmax_t page = 1; page * 4096 < size; ++page) {
                 Overwrite(path, page * 4096, std::string(16, '\xA5'));
             }
         },
         server::kExitFailure, "malformed"},
        {"header overwritten",
         [](const std::string& path) { Overwrite(path, 0, std::string(100, 'x')); },
         server::kExitFailure, "not a database"},
        {"cut short",
         [](const std::string& path) {
             std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
         },
         server::kExitFailure, ""},
        {"a host of no account",
         [](const std::string& path) {
             RunSql(path, "INSERT INTO hosts(account, name) VALUES (999, 'orphan')");
         },
         server::kExitFailure, "leads nowhere"},
        {"another program's database",
         [](const std::string& path) {
             std::filesystem::remove(path);
             RunSql(path, "CREATE TABLE notes(text)");
         },
         server::kExitFailure, "no table accounts"},
    };
    for (const Case& c : kCases) {
        const std::string copy = folder / "copy.db";
        std::filesystem::copy_file(good, copy, std::filesystem::copy_options::overwrite_existing);
        c.damage(copy);
        const Outcome outcome = Command(copy, {"check"});
        EXPECT_EQ(outcome.code, c.code) << c.name << ": " << outcome.out << outcome.err;
        EXPECT_NE((outcome.out + outcome.err).find(c.says), std::string::npos)
            << c.name << ": " << outcome.out << outcome.err;
        if (c.code != server::kExitOk) {
            EXPECT_EQ(outcome.out.find("ok"), std::string::npos) << c.name;
        }
    }
    EXPECT_NE(Command(folder / "missing.db", {"check"}).err.find("no database file"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(folder / "missing.db"));
}

} // namespace
