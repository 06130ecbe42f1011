// The service driven by the client's own ServiceCall over loopback: a real peer for the
// client and a real client for the service.

#include "core/Net.h"
#include "core/uTools.h"
#include "tests/server/RunningServer.h"
#include "util/uBase64.h"

#include <barrier>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <thread>

namespace {

using testing_support::Call;
using testing_support::RunningServer;

constexpr server::UnixTime kNov11 = 1794405909; // 2026-11-11 14:05:09 UTC
constexpr server::UnixTime kDec06 = 1796515200; // 2026-12-06 00:00:00 UTC

const std::string kJdoe = ScramblePassword("secret");
const std::string kAmy = ScramblePassword("p+ss");
const std::string kBob = ScramblePassword("bob's");

// Each case against each engine.
class ServiceTest : public ::testing::TestWithParam<testing_support::EngineKind> {
protected:
    static void SetUpTestSuite() {
        // Record dates are the server's local time; pin the zone so they can be compared.
        setenv("TZ", "UTC0", 1);
        tzset();
    }

    void SetUp() override {
        server.AddAccount("jdoe", "secret");
        server.AddAccount("amy", "p+ss");
        server.AddAccount("bob", "bob's");
    }

    static std::string SetIp(const std::string& pswd, const std::string& host,
                             const std::string& ip, const std::string& id = "jdoe") {
        return Call("setip",
                    {{"id", id}, {"pswd", pswd}, {"host", host}, {"ip", ip}, {"v", "0.3.11.25"}});
    }
    static std::string GetIp(const std::string& id, const std::string& pswd,
                             const std::string& host) {
        return Call("getip", {{"id", id}, {"pswd", pswd}, {"host", host}, {"v", "0.3.11.25"}});
    }
    static std::string Account(std::string_view action, const std::string& id,
                               const std::string& pswd) {
        return Call(action, {{"id", id}, {"pswd", pswd}, {"v", "0.3.11.25"}});
    }
    static std::string Invite(const std::string& id, const std::string& pswd,
                              const std::string& buddy, const std::string& hosts) {
        return Call(
            "invite",
            {{"id", id}, {"pswd", pswd}, {"invid", buddy}, {"hl", hosts}, {"v", "0.3.11.25"}});
    }
    static std::string Exclude(const std::string& id, const std::string& pswd,
                               const std::string& buddy) {
        return Call("exclude", {{"id", id}, {"pswd", pswd}, {"invid", buddy}, {"v", "0.3.11.25"}});
    }
    // The number the service gave the host, reported first if need be.
    std::string HostNumber(const std::string& userId, const std::string& host) {
        const auto account = server.Storage().FindAccount(userId).Value();
        const auto hosts = server.Storage().HostsOf(*account).Value();
        for (const auto& record : hosts) {
            if (record.Name == host) {
                return std::to_string(record.Number);
            }
        }
        ADD_FAILURE() << "no host " << host << " for " << userId;
        return "0";
    }

    RunningServer server{RunningServer::SetupFor(GetParam())};
};

struct LoginCase {
    const char* name;
    std::string id;
    std::string pswd;
    std::string reply;
};

TEST_P(ServiceTest, ReportNeedsTheAccountsIdAndStoredPassword) {
    const std::vector<LoginCase> cases = {
        {"right", "jdoe", kJdoe, "OK"},
        {"user ID in other case", "JDoe", kJdoe, "OK"},
        {"wrong password", "jdoe", kAmy, "ERR Invalid ID or password"},
        {"typed instead of stored password", "jdoe", "secret", "ERR Invalid ID or password"},
        {"empty password", "jdoe", "", "ERR Invalid ID or password"},
        {"unknown ID", "nobody", kJdoe, "ERR Invalid ID or password"},
        {"empty ID", "", "", "ERR Invalid ID or password"},
    };
    for (const LoginCase& c : cases) {
        EXPECT_EQ(SetIp(c.pswd, "OFFICE", "192.0.2.7", c.id), c.reply) << c.name;
    }
    EXPECT_EQ(Call("setip", {{"id", "jdoe"}, {"host", "OFFICE"}, {"ip", "192.0.2.7"}}),
              "ERR Invalid ID or password")
        << "no pswd key";
    EXPECT_EQ(Account("gethostlist", "jdoe", kAmy), "ERR Invalid ID or password");
    EXPECT_EQ(Account("getbuddies", "jdoe", kAmy), "ERR Invalid ID or password");
}

TEST_P(ServiceTest, GetIpShowsThePeerAndTheOwnersRecord) {
    EXPECT_EQ(GetIp("jdoe", kJdoe, "OFFICE"), "OK 127.0.0.1 ") << "nothing on record yet";
    ASSERT_EQ(SetIp(kJdoe, "OFFICE", "192.0.2.7"), "OK");

    const TReply reply = SplitReply(GetIp("jdoe", kJdoe, "OFFICE"));
    EXPECT_TRUE(reply.IsOK());
    EXPECT_EQ(reply.Message, "127.0.0.1 192.0.2.7");

    EXPECT_EQ(GetIp("jdoe", kJdoe, "office"), "OK 127.0.0.1 192.0.2.7")
        << "host names compare without case";
    EXPECT_EQ(GetIp("jdoe", kJdoe, "LAPTOP"), "OK 127.0.0.1 ") << "another host";
    // The check needs no account, but only the owner learns what is on record.
    EXPECT_EQ(GetIp("", "", "OFFICE"), "OK 127.0.0.1 ");
    EXPECT_EQ(GetIp("jdoe", kAmy, "OFFICE"), "OK 127.0.0.1 ");
    EXPECT_EQ(GetIp("amy", kAmy, "OFFICE"), "OK 127.0.0.1 ");
    EXPECT_EQ(Call("getip"), "OK 127.0.0.1 ") << "no keys at all";

    ASSERT_EQ(SetIp(kJdoe, "OFFICE", "203.0.113.9"), "OK");
    EXPECT_EQ(GetIp("jdoe", kJdoe, "OFFICE"), "OK 127.0.0.1 203.0.113.9");
}

TEST_P(ServiceTest, EachNewHostGetsANewNumberAndKeepsIt) {
    ASSERT_EQ(SetIp(kJdoe, "OFFICE", "192.0.2.7"), "OK");
    ASSERT_EQ(SetIp(kJdoe, "LAPTOP", "192.0.2.8"), "OK");
    const std::string office = HostNumber("jdoe", "OFFICE");
    const std::string laptop = HostNumber("jdoe", "LAPTOP");
    EXPECT_NE(office, laptop);
    EXPECT_EQ(Account("gethostlist", "jdoe", kJdoe),
              "OK " + office + ",OFFICE;" + laptop + ",LAPTOP;");

    // Reports of known hosts keep their numbers and use none up.
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(SetIp(kJdoe, "OFFICE", "192.0.2.9"), "OK");
        ASSERT_EQ(SetIp(kJdoe, "Office", "192.0.2.9"), "OK");
    }
    ASSERT_EQ(SetIp(kJdoe, "HOME", "192.0.2.10"), "OK");
    EXPECT_EQ(HostNumber("jdoe", "OFFICE"), office);
    EXPECT_EQ(std::stoll(HostNumber("jdoe", "HOME")), std::stoll(laptop) + 1);

    // Another account's host of the same name is a host of its own.
    ASSERT_EQ(SetIp(kAmy, "OFFICE", "198.51.100.4", "amy"), "OK");
    EXPECT_NE(HostNumber("amy", "OFFICE"), office);
    EXPECT_EQ(Account("gethostlist", "amy", kAmy),
              "OK " + HostNumber("amy", "OFFICE") + ",OFFICE;");
}

TEST_P(ServiceTest, AccountWithTheMostHostsCannotAddMore) {
    const auto bob = *server.Storage().FindAccount("bob").Value();
    for (std::int64_t i = 0; i < server::kMaxHostsPerAccount; ++i) {
        ASSERT_TRUE(
            server.Storage().RecordAddress(bob, "PC" + std::to_string(i), "", 1, "").Value());
    }
    EXPECT_EQ(SetIp(kBob, "ONE-MORE", "192.0.2.7", "bob"), "ERR Too many hosts for this account");
    EXPECT_EQ(SetIp(kBob, "PC7", "192.0.2.7", "bob"), "OK");
}

TEST_P(ServiceTest, HostListOfAnAccountWithoutHostsIsEmpty) {
    EXPECT_EQ(Account("gethostlist", "bob", kBob), "OK");
    EXPECT_EQ(Account("getbuddies", "bob", kBob), "OK");
}

TEST_P(ServiceTest, InvitationsThatCannotBeRecordedAreRefused) {
    ASSERT_EQ(SetIp(kJdoe, "OFFICE", "192.0.2.7"), "OK");
    ASSERT_EQ(SetIp(kAmy, "HOME", "198.51.100.4", "amy"), "OK");
    const std::string mine = HostNumber("jdoe", "OFFICE");
    const std::string amys = HostNumber("amy", "HOME");

    struct Case {
        std::string buddy, hosts, reply;
    };
    const std::vector<Case> cases = {
        {"bob", amys, "ERR Host " + amys + " is not one of your hosts"},
        {"bob", mine + "," + amys, "ERR Host " + amys + " is not one of your hosts"},
        {"bob", "999999", "ERR Host 999999 is not one of your hosts"},
        {"bob", "", "ERR Invalid host list"},
        {"bob", "OFFICE", "ERR Invalid host list"},
        {"bob", mine + ",", "ERR Invalid host list"},
        {"bob", mine + ",," + mine, "ERR Invalid host list"},
        {"bob", "-" + mine, "ERR Invalid host list"},
        {"bob", "99999999999999999999999", "ERR Invalid host list"},
        {"nobody", mine, "ERR Unknown user ID: nobody"},
        {"jdoe", mine, "ERR You cannot invite yourself"},
        {"", mine, "ERR Missing key: invid"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Invite("jdoe", kJdoe, c.buddy, c.hosts), c.reply)
            << "invid=" << c.buddy << " hl=" << c.hosts;
    }
    EXPECT_EQ(Invite("jdoe", kAmy, "bob", mine), "ERR Invalid ID or password");
    EXPECT_EQ(Call("invite", {{"id", "jdoe"}, {"pswd", kJdoe}, {"invid", "bob"}}),
              "ERR Missing key: hl");
    EXPECT_EQ(Account("getbuddies", "bob", kBob), "OK") << "a refused invitation offers nothing";
}

TEST_P(ServiceTest, InvitedBuddySeesTheOfferedHostsWithAddressAndDate) {
    server.SetNow(kNov11);
    ASSERT_EQ(SetIp(kJdoe, "OFFICE", "192.0.2.7"), "OK");
    ASSERT_EQ(SetIp(kJdoe, "LAPTOP", ""), "OK") << "a host that has no address yet";
    ASSERT_EQ(SetIp(kJdoe, "HOME", "192.0.2.99"), "OK") << "a host that is not offered";
    const std::string office = HostNumber("jdoe", "OFFICE");
    const std::string laptop = HostNumber("jdoe", "LAPTOP");

    ASSERT_EQ(Invite("jdoe", kJdoe, "amy", office + "," + laptop), "OK");
    EXPECT_EQ(Account("getbuddies", "amy", kAmy),
              "OK jdoe,,,LAPTOP;jdoe,192.0.2.7,2026-11-11 14:05:09,OFFICE;");
    EXPECT_EQ(Account("getbuddies", "jdoe", kJdoe), "OK") << "an offer goes one way";
    EXPECT_EQ(Account("getbuddies", "bob", kBob), "OK");

    // The buddy follows the host's reports; offering a host again changes nothing.
    server.SetNow(kDec06);
    ASSERT_EQ(SetIp(kJdoe, "OFFICE", "203.0.113.9"), "OK");
    ASSERT_EQ(Invite("jdoe", kJdoe, "AMY", office), "OK");
    EXPECT_EQ(Account("getbuddies", "amy", kAmy),
              "OK jdoe,,,LAPTOP;jdoe,203.0.113.9,2026-12-06 00:00:00,OFFICE;");
}

TEST_P(ServiceTest, ExcludeRemovesTheOffersOfBothSides) {
    ASSERT_EQ(SetIp(kJdoe, "OFFICE", "192.0.2.7"), "OK");
    ASSERT_EQ(SetIp(kAmy, "HOME", "198.51.100.4", "amy"), "OK");
    ASSERT_EQ(SetIp(kBob, "DESK", "198.51.100.5", "bob"), "OK");
    ASSERT_EQ(Invite("jdoe", kJdoe, "amy", HostNumber("jdoe", "OFFICE")), "OK");
    ASSERT_EQ(Invite("amy", kAmy, "jdoe", HostNumber("amy", "HOME")), "OK");
    ASSERT_EQ(Invite("bob", kBob, "amy", HostNumber("bob", "DESK")), "OK");
    ASSERT_EQ(Invite("amy", kAmy, "bob", HostNumber("amy", "HOME")), "OK");

    EXPECT_EQ(Exclude("jdoe", kJdoe, "amy"), "OK");
    EXPECT_EQ(Account("getbuddies", "jdoe", kJdoe), "OK");
    const TReply amys = SplitReply(Account("getbuddies", "amy", kAmy));
    EXPECT_TRUE(amys.IsOK());
    EXPECT_EQ(amys.Message.find("jdoe"), std::string::npos) << amys.Message;
    EXPECT_NE(amys.Message.find("bob,"), std::string::npos) << "other buddies stay";
    EXPECT_NE(Account("getbuddies", "bob", kBob).find("amy,"), std::string::npos);

    EXPECT_EQ(Exclude("jdoe", kJdoe, "amy"), "ERR Not in your buddy list: amy");
    EXPECT_EQ(Exclude("jdoe", kJdoe, "nobody"), "ERR Unknown user ID: nobody");
    EXPECT_EQ(Exclude("jdoe", kAmy, "amy"), "ERR Invalid ID or password");
    EXPECT_EQ(Call("exclude", {{"id", "jdoe"}, {"pswd", kJdoe}}), "ERR Missing key: invid");
}

TEST_P(ServiceTest, NamesThatAreNotCleanUtf8AreRefused) {
    const std::string garbage = "\xFF\xFE\xC0";
    const std::string control = "PC\xC2\x85";
    for (const std::string& host : {garbage, control}) {
        EXPECT_EQ(SetIp(kJdoe, host, "192.0.2.7"), "ERR Invalid host name");
        EXPECT_EQ(GetIp("jdoe", kJdoe, host), "ERR Invalid host name");
    }
    // DEL is not allowed in a request target at all: refused before the service sees it.
    EXPECT_EQ(SetIp(kJdoe, "PC\x7F", "192.0.2.7"), "ERR Bad request");
    EXPECT_EQ(Account("gethostlist", "jdoe", kJdoe), "OK") << "nothing was stored";
    EXPECT_EQ(SetIp(kJdoe, "PC", "192.0.2.7", "jdoe" + garbage), "ERR Invalid ID or password");
    EXPECT_EQ(GetIp("jdoe" + garbage, kJdoe, "PC"), "ERR Invalid ID or password");
    EXPECT_EQ(Invite("jdoe", kJdoe, "amy" + garbage, "1"), "ERR Invalid user ID");
    EXPECT_EQ(Exclude("jdoe", kJdoe, "amy\xC2\x9B"), "ERR Invalid user ID");
    EXPECT_EQ(SetIp(kJdoe, "caf\xC3\xA9", "192.0.2.7"), "OK") << "real UTF-8 is welcome";
}

// Stored forms made by the client hold letters, digits and "=" only, but the client sends
// whatever its settings file holds, and a hand-edited one may hold any of the characters that
// URL decoding would change.
TEST_P(ServiceTest, StoredPasswordWithPlusSlashAndEqualsRoundTrips) {
    const std::string stored = "ab+cd/ef%2B==";
    ASSERT_TRUE(server.Storage().SetPassword("jdoe", stored).Value());

    EXPECT_EQ(SetIp(stored, "OFFICE", "192.0.2.7"), "OK");
    EXPECT_EQ(GetIp("jdoe", stored, "OFFICE"), "OK 127.0.0.1 192.0.2.7");
    EXPECT_EQ(Account("gethostlist", "jdoe", stored),
              "OK " + HostNumber("jdoe", "OFFICE") + ",OFFICE;");
    EXPECT_EQ(Account("gethostlist", "jdoe", "ab+cd/ef+=="), "ERR Invalid ID or password")
        << "compared as sent, not decoded";
}

TEST_P(ServiceTest, VersionCheckOffersTheClientsOwnVersionByDefault) {
    const server::ProductVersion own = testing_support::ClientVersion();
    EXPECT_EQ(Call("clver"), "OK " + std::to_string(own.Major) + "\n" + std::to_string(own.Minor) +
                                 "\n" + std::to_string(own.Release) + "\n" +
                                 std::to_string(own.Build));
    EXPECT_EQ(Call("clver"), "OK 0\n3\n11\n25");

    ASSERT_TRUE(server.Storage().SetOfferedVersion("0.3.12.30"));
    EXPECT_EQ(Call("clver"), "OK 0\n3\n12\n30") << "the stored offer";
}

TEST(ServiceOffer, CommandLineOfferWinsOverTheStoredOne) {
    auto setup = RunningServer::DefaultSetup();
    setup.Offer.VersionOverride = server::ProductVersion{1, 0, 0, 2};
    setup.Offer.PackageOverride = std::string("from the command line");
    RunningServer server(setup);
    ASSERT_TRUE(server.Storage().SetOfferedVersion("0.3.12.30"));
    ASSERT_TRUE(server.Storage().SetPackage(std::string("stored")));

    EXPECT_EQ(Call("clver"), "OK 1\n0\n0\n2");
    TMemoryBlock block;
    std::size_t size = 0;
    ASSERT_TRUE(UrlGet(ServiceRequestUrl("dlupdate"), server.Port(), "", block, size));
    EXPECT_EQ(*block, std::string("from the command line") + '\0');
}

TEST_P(ServiceTest, DownloadDeliversTheStoredPackageByteForByte) {
    std::string package = "MZ";
    for (int i = 0; i < 70000; ++i) {
        package += static_cast<char>(i * 7 % 256); // zero bytes included
    }
    ASSERT_TRUE(server.Storage().SetPackage(package));

    const std::string file = server.Folder() / "cvlupf.exe";
    TMemoryBlock none;
    std::size_t size = 0;
    ASSERT_TRUE(UrlGet(ServiceRequestUrl("dlupdate"), server.Port(), file, none, size));
    std::ifstream saved(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(saved)),
                            std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes.size(), package.size());
    EXPECT_TRUE(bytes == package);
}

TEST_P(ServiceTest, DownloadWithoutPackageIsNotFoundWithEmptyBody) {
    TMemoryBlock block;
    std::size_t size = 0;
    ASSERT_TRUE(UrlGet(ServiceRequestUrl("dlupdate"), server.Port(), "", block, size));
    EXPECT_EQ(size, 1u) << "only the closing zero byte: the body is empty";

    const std::string raw = testing_support::RawExchange(
        server.Port(), "GET /bin/corvale/cmd.php?action=dlupdate HTTP/1.0\r\n\r\n");
    EXPECT_EQ(raw.rfind("HTTP/1.1 404 ", 0), 0u) << raw;
    EXPECT_EQ(raw.substr(raw.size() - 4), "\r\n\r\n") << raw;

    ASSERT_TRUE(server.Storage().SetPackage(std::string("pkg")));
    ASSERT_TRUE(server.Storage().SetPackage(std::nullopt));
    EXPECT_EQ(testing_support::RawExchange(
                  server.Port(), "GET /bin/corvale/cmd.php?action=dlupdate HTTP/1.0\r\n\r\n")
                  .rfind("HTTP/1.1 404 ", 0),
              0u)
        << "a cleared package is gone";
}

// The signature file is a text reply beside the package; without one the client gets nothing
// it could take for a signature.
TEST_P(ServiceTest, SignatureDownloadDeliversTheStoredSignature) {
    const std::string raw = testing_support::RawExchange(
        server.Port(), "GET /bin/corvale/cmd.php?action=dlupdatesig HTTP/1.0\r\n\r\n");
    EXPECT_EQ(raw.rfind("HTTP/1.1 404 ", 0), 0u) << raw;
    EXPECT_EQ(raw.substr(raw.size() - 4), "\r\n\r\n") << raw;

    const std::string signature = "untrusted comment: x\nRUQ...\ntrusted comment: t\ng\n";
    ASSERT_TRUE(server.Storage().SetPackageSignature(signature));
    TMemoryBlock block;
    std::size_t size = 0;
    ASSERT_TRUE(UrlGet(ServiceRequestUrl("dlupdatesig"), server.Port(), "", block, size));
    EXPECT_EQ(*block, signature + '\0');
}

TEST(ServiceOffer, CommandLinePackageComesWithItsOwnSignature) {
    auto setup = RunningServer::DefaultSetup();
    setup.Offer.PackageOverride = std::string("from the command line");
    setup.Offer.SignatureOverride = std::string("its signature");
    RunningServer server(setup);
    ASSERT_TRUE(server.Storage().SetPackageSignature(std::string("the stored one")));
    TMemoryBlock block;
    std::size_t size = 0;
    ASSERT_TRUE(UrlGet(ServiceRequestUrl("dlupdatesig"), server.Port(), "", block, size));
    EXPECT_EQ(*block, std::string("its signature") + '\0');
}

TEST_P(ServiceTest, ConcurrentReportsAndChecksLoseNoUpdate) {
    constexpr int kThreads = 16;
    constexpr int kRounds = 20;
    std::barrier start(kThreads);
    std::vector<std::string> failures(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            // Every thread also races the others to create one shared host.
            if (SetIp(kJdoe, "SHARED", "192.0.2.1") != "OK") {
                failures[t] = "shared report refused";
                return;
            }
            const std::string host = "PC-" + std::to_string(t);
            for (int i = 0; i < kRounds; ++i) {
                const std::string ip = "10.0." + std::to_string(t) + "." + std::to_string(i);
                const std::string set = SetIp(kJdoe, host, ip);
                const std::string got = GetIp("jdoe", kJdoe, host);
                if (set != "OK" || got != "OK 127.0.0.1 " + ip) {
                    failures[t] = set + " / " + got;
                    return;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(failures[t], "") << "thread " << t;
    }
    const auto hosts =
        server.Storage().HostsOf(*server.Storage().FindAccount("jdoe").Value()).Value();
    ASSERT_EQ(hosts.size(), static_cast<std::size_t>(kThreads + 1)) << "one SHARED host";
    for (const auto& host : hosts) {
        if (host.Name != "SHARED") {
            const std::string t = host.Name.substr(3);
            EXPECT_EQ(host.Address, "10.0." + t + "." + std::to_string(kRounds - 1));
        }
    }
}

struct BadInputCase {
    const char* name;
    std::string url; // after the host
    std::string reply;
};

TEST_P(ServiceTest, BadInputGetsAFailureReplyAndTheServiceGoesOn) {
    const std::string login = "&id=jdoe&pswd=" + kJdoe;
    const std::string longValue(5000, 'x');
    const std::vector<BadInputCase> cases = {
        {"unknown action", "/bin/corvale/cmd.php?action=reboot", "ERR Unknown action"},
        {"empty action", "/bin/corvale/cmd.php?action=", "ERR Unknown action"},
        {"no query", "/bin/corvale/cmd.php", "ERR Missing action"},
        {"action not first", "/bin/corvale/cmd.php?id=jdoe&action=getip", "ERR Missing action"},
        {"duplicate key", "/bin/corvale/cmd.php?action=setip" + login + "&id=amy",
         "ERR Duplicate key: id"},
        {"over-long value", "/bin/corvale/cmd.php?action=getbuddies&id=jdoe&pswd=" + longValue,
         "ERR Value too long: pswd"},
        {"over-long key", "/bin/corvale/cmd.php?action=getip&" + longValue + "=1",
         "ERR Malformed request"},
        {"missing host", "/bin/corvale/cmd.php?action=setip" + login + "&ip=192.0.2.7",
         "ERR Invalid host name"},
        {"host with comma", "/bin/corvale/cmd.php?action=setip" + login + "&host=A,B&ip=1.2.3.4",
         "ERR Invalid host name"},
        {"host with semicolon",
         "/bin/corvale/cmd.php?action=setip" + login + "&host=A;B&ip=1.2.3.4",
         "ERR Invalid host name"},
        {"missing ip", "/bin/corvale/cmd.php?action=setip" + login + "&host=PC",
         "ERR Missing key: ip"},
        {"address out of range",
         "/bin/corvale/cmd.php?action=setip" + login + "&host=PC&ip=256.1.1.1",
         "ERR Invalid address"},
        {"address with a comma",
         "/bin/corvale/cmd.php?action=setip" + login + "&host=PC&ip=1.2.3.4,5",
         "ERR Invalid address"},
        {"other script", "/bin/corvale/other.php?action=getip", "ERR Not found"},
    };
    for (const BadInputCase& c : cases) {
        EXPECT_EQ(ServiceCall("http://127.0.0.1" + c.url), c.reply) << c.name;
    }
    EXPECT_EQ(Account("gethostlist", "jdoe", kJdoe), "OK") << "nothing was recorded";
    EXPECT_EQ(Call("clver"), "OK 0\n3\n11\n25");
}

INSTANTIATE_TEST_SUITE_P(Engines, ServiceTest,
                         ::testing::ValuesIn(testing_support::AvailableEngines()),
                         testing_support::EngineName);

} // namespace
