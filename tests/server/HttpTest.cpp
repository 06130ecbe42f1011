// The HTTP side seen on the wire: one reply per connection, failure replies for requests
// that are not HTTP at all, and the two web pages.

#include "core/Net.h"
#include "tests/server/RunningServer.h"
#include "tests/support/HttpText.h"
#include "util/uBase64.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace {

using testing_support::BodyOf;
using testing_support::HeadOf;
using testing_support::RawExchange;
using testing_support::RunningServer;
using testing_support::StatusLineOf;

std::string FormPost(const std::string& path, const std::string& form) {
    return "POST " + path +
           " HTTP/1.1\r\nHost: x\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\n"
           "Content-Length: " +
           std::to_string(form.size()) + "\r\n\r\n" + form;
}

TEST(HttpFrontEnd, EveryReplySaysCloseAndClosesTheConnection) {
    RunningServer server;
    const std::vector<std::pair<const char*, std::string>> requests = {
        {"the client's own request",
         BuildRequest("127.0.0.1",
                      "bin/corvale/cmd.php?action=getip&id=&pswd=&host=PC&v=0.3.11.25")},
        {"HTTP/1.1 asking to keep the connection",
         "GET /bin/corvale/cmd.php?action=clver HTTP/1.1\r\nHost: x\r\n"
         "Connection: keep-alive\r\n\r\n"},
        {"HTTP/1.1, two requests in a row",
         "GET /bin/corvale/cmd.php?action=clver HTTP/1.1\r\nHost: x\r\n\r\n"
         "GET /bin/corvale/cmd.php?action=clver HTTP/1.1\r\nHost: x\r\n\r\n"},
        {"a web page", "GET /tools/corvale/ HTTP/1.0\r\n\r\n"},
        {"an unknown path", "GET /nothing/here HTTP/1.0\r\n\r\n"},
    };
    for (const auto& [name, request] : requests) {
        const std::string response = RawExchange(server.Port(), request);
        ASSERT_FALSE(response.empty()) << name << ": no reply, or the connection stayed open";
        EXPECT_NE(HeadOf(response).find("\r\nConnection: close\r\n"), std::string::npos)
            << name << "\n"
            << HeadOf(response);
        EXPECT_EQ(response.find("HTTP/1.1", 1), std::string::npos)
            << name << ": only one reply per connection";
    }
    const std::string client = RawExchange(server.Port(), requests[0].second);
    EXPECT_EQ(BodyOf(client), "OK 127.0.0.1 ");
}

TEST(HttpFrontEnd, RequestsThatAreNotHttpGetAFailureReply) {
    RunningServer server;
    const std::vector<std::pair<const char*, std::string>> requests = {
        {"garbage request line", "HELLO THERE\r\n\r\n"},
        {"empty request line", "\r\n\r\n"},
        {"binary junk", std::string("\x16\x03\x01\x00\xff\x00\r\n\r\n", 10)},
        {"unknown method", "FETCH /bin/corvale/cmd.php?action=clver HTTP/1.0\r\n\r\n"},
        {"unknown version", "GET /bin/corvale/cmd.php?action=clver HTTP/9.9\r\n\r\n"},
        {"blank inside a value", "GET /bin/corvale/cmd.php?action=getip&id=a b HTTP/1.0\r\n\r\n"},
    };
    for (const auto& [name, request] : requests) {
        const std::string response = RawExchange(server.Port(), request);
        EXPECT_EQ(BodyOf(response).rfind("ERR ", 0), 0u) << name << "\n" << response;
    }
    const std::string tooLong = RawExchange(
        server.Port(),
        "GET /bin/corvale/cmd.php?action=getip&id=" + std::string(9000, 'a') + " HTTP/1.0\r\n\r\n");
    EXPECT_EQ(BodyOf(tooLong), "ERR Request too long");
    EXPECT_EQ(BodyOf(RawExchange(server.Port(),
                                 "GET /bin/corvale/cmd.php?action=clver HTTP/1.0\r\n\r\n")),
              "OK 0\n3\n11\n25")
        << "the service goes on";
}

TEST(HttpFrontEnd, AccessLogNamesTheActionButNeverTheQueryValues) {
    std::ostringstream log;
    const std::string stored = ScramblePassword("secret");
    {
        auto setup = RunningServer::DefaultSetup();
        setup.FrontEnd.AccessLog = &log;
        RunningServer server(setup);
        server.AddAccount("jdoe", "secret");
        ASSERT_EQ(
            testing_support::Call(
                "setip", {{"id", "jdoe"}, {"pswd", stored}, {"host", "PC"}, {"ip", "192.0.2.7"}}),
            "OK");
        RawExchange(server.Port(), "GET /x%0Aforged%20line HTTP/1.0\r\n\r\n");
    } // stopped: every log line is written
    const std::string text = log.str();
    EXPECT_NE(text.find("127.0.0.1 \"GET /bin/corvale/cmd.php?action=setip\" 200 2\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find(stored), std::string::npos);
    EXPECT_EQ(text.find("jdoe"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
}

TEST(HttpFrontEnd, DualStackListenerShowsIPv4PeersDotted) {
    auto setup = RunningServer::DefaultSetup();
    setup.Host = "::";
    std::unique_ptr<RunningServer> server;
    try {
        server = std::make_unique<RunningServer>(setup);
    } catch (const std::runtime_error&) {
        GTEST_SKIP() << "no IPv6 on this machine";
    }
    EXPECT_EQ(testing_support::Call("getip"), "OK 127.0.0.1 ");
}

TEST(HttpFrontEnd, HomePageLinksSignupAndDownload) {
    RunningServer server;
    std::string page = RawExchange(server.Port(), "GET /tools/corvale/ HTTP/1.0\r\n\r\n");
    EXPECT_EQ(StatusLineOf(page), "HTTP/1.1 200 OK");
    EXPECT_NE(HeadOf(page).find("Content-Type: text/html"), std::string::npos);
    EXPECT_EQ(BodyOf(page).rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_NE(page.find("Corvale 0.3.11 (build 25)"), std::string::npos);
    EXPECT_NE(page.find("href=\"/tools/corvale/signup.php\""), std::string::npos);
    EXPECT_EQ(page.find("action=dlupdate"), std::string::npos) << "no package, no link";
    EXPECT_NE(page.find("sends no e-mail"), std::string::npos);

    ASSERT_TRUE(server.Storage().SetPackage(std::string(1234, 'p')));
    ASSERT_TRUE(server.Storage().SetOfferedVersion("0.3.12.30"));
    page = RawExchange(server.Port(), "GET /tools/corvale/ HTTP/1.0\r\n\r\n");
    EXPECT_NE(page.find("href=\"/bin/corvale/cmd.php?action=dlupdate\""), std::string::npos);
    EXPECT_NE(page.find("1234 bytes"), std::string::npos);
    EXPECT_NE(page.find("Corvale 0.3.12 (build 30)"), std::string::npos);

    const std::string root = RawExchange(server.Port(), "GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(StatusLineOf(root), "HTTP/1.1 301 Moved Permanently");
    EXPECT_NE(HeadOf(root).find("\r\nLocation: /tools/corvale/\r\n"), std::string::npos);
}

TEST(HttpFrontEnd, SignupCreatesAnAccountWithTheStoredPassword) {
    RunningServer server;
    const std::string form =
        RawExchange(server.Port(), "GET /tools/corvale/signup.php HTTP/1.0\r\n\r\n");
    EXPECT_EQ(StatusLineOf(form), "HTTP/1.1 200 OK");
    EXPECT_NE(form.find("<form method=\"post\" action=\"/tools/corvale/signup.php\""),
              std::string::npos);

    // The browser encodes the form: "a+b&c" typed arrives as a%2Bb%26c.
    const std::string done =
        RawExchange(server.Port(), FormPost("/tools/corvale/signup.php",
                                            "id=new.user&password=a%2Bb%26c&repeat=a%2Bb%26c"));
    EXPECT_EQ(StatusLineOf(done), "HTTP/1.1 200 OK") << done;
    EXPECT_NE(done.find("new.user"), std::string::npos);
    EXPECT_TRUE(server.Storage().Authenticate("new.user", ScramblePassword("a+b&c")).Value());
    EXPECT_FALSE(server.Storage().Authenticate("new.user", "a+b&c").Value())
        << "never the typed text";
}

TEST(HttpFrontEnd, SignupRefusesBadFormsAndShowsWhy) {
    RunningServer server;
    server.AddAccount("taken", "x");
    struct Case {
        const char* name;
        std::string form;
        std::string status;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"passwords differ", "id=someone&password=a&repeat=b", "400", "differ"},
        {"empty password", "id=someone&password=&repeat=", "400", "password of 1 to 128"},
        {"user ID with a comma", "id=a%2Cb&password=a&repeat=a", "400", "user ID of 1 to 32"},
        {"user ID too long", "id=" + std::string(33, 'u') + "&password=a&repeat=a", "400",
         "user ID of 1 to 32"},
        {"no user ID", "password=a&repeat=a", "400", "user ID of 1 to 32"},
        {"ID taken, in other case", "id=TAKEN&password=a&repeat=a", "409", "taken"},
        {"markup in the ID", "id=%3Cb%3Ex&password=a&repeat=b", "400", "user ID of 1 to 32"},
    };
    for (const Case& c : cases) {
        const std::string page =
            RawExchange(server.Port(), FormPost("/tools/corvale/signup.php", c.form));
        EXPECT_EQ(StatusLineOf(page).substr(9, 3), c.status) << c.name;
        EXPECT_NE(page.find(c.says), std::string::npos) << c.name;
        EXPECT_EQ(page.find("<b>"), std::string::npos) << c.name << ": echoed unescaped";
    }
    EXPECT_EQ(server.Storage().ListAccounts().Value().size(), 1u);
}

TEST(HttpFrontEnd, ClosedSignupCreatesNothing) {
    auto setup = RunningServer::DefaultSetup();
    setup.FrontEnd.SignupOpen = false;
    RunningServer server(setup);
    EXPECT_EQ(
        StatusLineOf(RawExchange(server.Port(), "GET /tools/corvale/signup.php HTTP/1.0\r\n\r\n")),
        "HTTP/1.1 403 Forbidden");
    const std::string page = RawExchange(
        server.Port(), FormPost("/tools/corvale/signup.php", "id=someone&password=a&repeat=a"));
    EXPECT_EQ(StatusLineOf(page), "HTTP/1.1 403 Forbidden");
    EXPECT_TRUE(server.Storage().ListAccounts().Value().empty());
    EXPECT_EQ(RawExchange(server.Port(), "GET /tools/corvale/ HTTP/1.0\r\n\r\n").find("signup.php"),
              std::string::npos);
}

} // namespace
