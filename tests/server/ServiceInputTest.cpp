// How a service request and an address report are read, and that the full path and the quick
// one refuse the same reports with the same reply.

#include "server/ServiceInput.h"

#include "tests/server/RunningServer.h"
#include "tests/support/Wait.h"
#include "util/uBase64.h"

#include <future>
#include <gtest/gtest.h>

namespace {

using namespace server;
using namespace std::chrono_literals;

const std::string kTarget = "/bin/corvale/cmd.php?action=setip&id=jdoe&pswd=";

struct ReportCase {
    const char* name;
    std::string keys;    // after the login
    std::string refusal; // empty: the report is read
};

const std::vector<ReportCase>& ReportCases() {
    static const std::vector<ReportCase> cases = {
        {"an address", "&host=PC&ip=192.0.2.7&v=0.3.11.25", ""},
        {"no address to report", "&host=PC&ip=", ""},
        {"the highest address", "&host=PC&ip=255.255.255.255", ""},
        {"no host", "&ip=192.0.2.7", "Invalid host name"},
        {"an empty host", "&host=&ip=192.0.2.7", "Invalid host name"},
        {"a host with a blank", "&host=MY PC&ip=192.0.2.7", "Invalid host name"},
        {"a host with a comma", "&host=A,B&ip=192.0.2.7", "Invalid host name"},
        {"a host with a semicolon", "&host=A;B&ip=192.0.2.7", "Invalid host name"},
        {"a host of 256 bytes", "&host=" + std::string(256, 'h') + "&ip=192.0.2.7",
         "Invalid host name"},
        {"a host that is no UTF-8", "&host=PC\xff&ip=192.0.2.7", "Invalid host name"},
        {"the host is checked before the address", "&host=A,B", "Invalid host name"},
        {"no address", "&host=PC", "Missing key: ip"},
        {"three numbers", "&host=PC&ip=192.0.2", "Invalid address"},
        {"five numbers", "&host=PC&ip=192.0.2.7.1", "Invalid address"},
        {"a leading zero", "&host=PC&ip=192.0.2.07", "Invalid address"},
        {"a number above 255", "&host=PC&ip=192.0.2.256", "Invalid address"},
        {"a name", "&host=PC&ip=localhost", "Invalid address"},
        {"an IPv6 address", "&host=PC&ip=::1", "Invalid address"},
    };
    return cases;
}

TEST(ServiceInput, ALoginIsOfferedOnlyWithAUserIdThatCouldExistAndAPassword) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"&id=jdoe&pswd=ab+c/d==", "jdoe:ab+c/d=="},
        {"&id=J.Doe_2-x&pswd=", "J.Doe_2-x:"}, // an empty password is still one offered
        {"&pswd=x", "(none)"},
        {"&id=jdoe", "(none)"},
        {"&id=&pswd=x", "(none)"},
        {"&id=j%20doe&pswd=x", "(none)"},
        {"&id=" + std::string(33, 'j') + "&pswd=x", "(none)"},
    };
    for (const auto& [keys, shown] : cases) {
        const auto query = ParseServiceQuery("/bin/corvale/cmd.php?action=getip" + keys);
        ASSERT_TRUE(query) << keys;
        const auto login = ReadLogin(*query);
        EXPECT_EQ(login ? std::string(login->UserId) + ':' + std::string(login->Password)
                        : std::string("(none)"),
                  shown)
            << keys;
    }
}

TEST(ServiceInput, AddressReportsAreReadOrRefusedWithTheFailureText) {
    for (const ReportCase& c : ReportCases()) {
        const auto query = ParseServiceQuery(kTarget + "x" + c.keys);
        ASSERT_TRUE(query) << c.name << ": " << query.Failure().Message;
        const Result<ReportInput> report = ReadAddressReport(*query);
        if (c.refusal.empty()) {
            ASSERT_TRUE(report) << c.name << ": " << report.Failure().Message;
            EXPECT_EQ(report->Host, "PC") << c.name;
            EXPECT_EQ(report->Address, *query->Find("ip")) << c.name;
        } else {
            ASSERT_FALSE(report) << c.name;
            EXPECT_EQ(report.Failure().Kind, ErrorKind::Invalid) << c.name;
            EXPECT_EQ(report.Failure().Message, c.refusal) << c.name;
        }
    }
}

TEST(ServiceInput, AReportKeepsOnlyAWellFormedClientVersion) {
    const auto version = [](const std::string& keys) {
        const auto query = ParseServiceQuery(kTarget + "x&host=PC&ip=" + keys);
        const auto report = ReadAddressReport(*query);
        return report ? report->ClientVersion : "(refused)";
    };
    EXPECT_EQ(version("&v=0.3.11.25"), "0.3.11.25");
    EXPECT_EQ(version("&v=0.3.11"), "");
    EXPECT_EQ(version("&v=latest"), "");
    EXPECT_EQ(version(""), "");
}

TEST(ServiceInput, NamesThatAreNoCleanTextAreRefusedBeforeAnythingElse) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/bin/corvale/cmd.php?action=getip&id=j\x01", "Invalid ID or password"},
        {"/bin/corvale/cmd.php?action=getip&host=PC\xc0\xaf", "Invalid host name"},
        {"/bin/corvale/cmd.php?action=invite&invid=\xed\xa0\x80", "Invalid user ID"},
        {"/bin/corvale/cmd.php?action=setip&id=j\x7f&host=PC\x01", "Invalid ID or password"},
        {"/bin/corvale/cmd.php?id=j\x01", "Missing action"},
    };
    for (const auto& [target, refusal] : cases) {
        const auto query = ReadServiceRequest(target);
        ASSERT_FALSE(query) << refusal;
        EXPECT_EQ(query.Failure().Message, refusal);
    }
    const auto clean = ReadServiceRequest("/bin/corvale/cmd.php?action=getip&host=B\xc3\xbcro");
    ASSERT_TRUE(clean) << clean.Failure().Message;
    EXPECT_EQ(clean->Find("host").value_or("(none)"), "B\xc3\xbcro");
}

// The quick path's reply, waiting for the writing thread when it queued the report.
std::string QuickBody(ServiceActions& actions, const std::string& target) {
    std::promise<std::string> later;
    auto done = later.get_future();
    const auto quick =
        actions.ReplyQuickly(target, "127.0.0.1", [&later](QueuedReply<ServiceReply> reply) {
            later.set_value(std::holds_alternative<ServiceReply>(reply)
                                ? std::get<ServiceReply>(reply).Body
                                : "(left to a worker)");
        });
    if (const auto* reply = std::get_if<ServiceReply>(&quick)) {
        return reply->Body;
    }
    if (std::holds_alternative<ReplyOnWorker>(quick)) {
        return "(left to a worker)";
    }
    if (done.wait_for(testing_support::Scaled(10s)) != std::future_status::ready) {
        return "(queued, never replied)";
    }
    return done.get();
}

TEST(ServiceInput, TheFullAndTheQuickPathReplyAlikeToEveryReport) {
    testing_support::RunningServer server;
    server.AddAccount("jdoe", "secret");
    ServiceActions& actions = server.Actions();
    const std::string login = kTarget + ScramblePassword("secret");
    // The full check that lets the quick path take this login from memory from now on.
    ASSERT_EQ(actions.ReplyTo(login + "&host=PC&ip=192.0.2.1", "127.0.0.1").Body, "OK");

    for (const ReportCase& c : ReportCases()) {
        const std::string expected = c.refusal.empty() ? "OK" : "ERR " + c.refusal;
        EXPECT_EQ(actions.ReplyTo(login + c.keys, "127.0.0.1").Body, expected) << c.name;
        EXPECT_EQ(QuickBody(actions, login + c.keys), expected) << c.name;
    }
}

} // namespace
