// The transport against a scripted peer on 127.0.0.1.

#include "core/Net.h"

#include "core/Lib5.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TempFolder.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using testing_support::LoopbackServer;
using testing_support::ScriptedReply;
using namespace std::chrono_literals;

namespace {

const std::string kFixedRequestPart =
    "GET / HTTP/1.0\r\n"
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
    "application/x-shockwave-flash, application/vnd.ms-excel, application/vnd.ms-powerpoint, "
    "application/msword, */*\r\n"
    "Accept-Language: en-us\r\n"
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 1.1.4322; "
    ".NET CLR 2.0.50727)\r\n"
    "Host: \r\n"
    "Proxy-Connection: Keep-Alive\r\n\r\n";

struct Fetched {
    bool ok;
    TMemoryBlock block;
    std::size_t size;
};

Fetched FetchToMemory(std::uint16_t port, const std::string& path = "bin/x?a=1",
                      std::chrono::milliseconds timeout = 5s) {
    Fetched f{false, std::string("stale"), 99};
    f.ok = UrlGet("http://127.0.0.1/" + path, port, "", f.block, f.size, timeout);
    return f;
}

std::string Body(const Fetched& f) {
    EXPECT_TRUE(f.block.has_value());
    EXPECT_EQ(f.size, f.block->size());
    EXPECT_EQ(f.block->back(), '\0') << "the block ends with one zero byte";
    return f.block->substr(0, f.block->size() - 1);
}

TEST(BuildRequest, FixedPartIs362Bytes) {
    EXPECT_EQ(kFixedRequestPart.size(), 362u);
    EXPECT_EQ(BuildRequest("", ""), kFixedRequestPart);
}

TEST(UrlGet, SendsExactlyTheRequestBytes) {
    LoopbackServer server;
    const auto f =
        FetchToMemory(server.Port(), "bin/corvale/cmd.php?action=getip&id=jo+e&pswd=a/b=");
    ASSERT_TRUE(server.WaitForRequests(1));
    EXPECT_TRUE(f.ok);
    EXPECT_EQ(server.Requests()[0],
              "GET /bin/corvale/cmd.php?action=getip&id=jo+e&pswd=a/b= HTTP/1.0\r\n"
              "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
              "application/x-shockwave-flash, application/vnd.ms-excel, "
              "application/vnd.ms-powerpoint, application/msword, */*\r\n"
              "Accept-Language: en-us\r\n"
              "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR "
              "1.1.4322; .NET CLR 2.0.50727)\r\n"
              "Host: 127.0.0.1\r\n"
              "Proxy-Connection: Keep-Alive\r\n\r\n");
}

TEST(UrlGet, LongRequestIsSentWhole) {
    LoopbackServer server;
    const std::string path = "p?x=" + std::string(100'000, 'y'); // far past 1024 bytes
    const auto f = FetchToMemory(server.Port(), path);
    ASSERT_TRUE(server.WaitForRequests(1));
    EXPECT_TRUE(f.ok);
    EXPECT_EQ(server.Requests()[0], BuildRequest("127.0.0.1", path));
}

struct ReplyCase {
    const char* name;
    ScriptedReply reply;
    bool ok;
    std::string body; // meaningful when ok
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
    *os << c.name;
}

class UrlGetReplies : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(UrlGetReplies, DeliversTheBody) {
    LoopbackServer server;
    server.Enqueue(GetParam().reply);
    const auto f = FetchToMemory(server.Port(), "x", 2s);
    EXPECT_EQ(f.ok, GetParam().ok);
    if (GetParam().ok) {
        EXPECT_EQ(Body(f), GetParam().body);
    } else {
        EXPECT_FALSE(f.block.has_value());
        EXPECT_EQ(f.size, 0u);
    }
}

ScriptedReply Chunks(std::vector<std::string> chunks,
                     ScriptedReply::Ending ending = ScriptedReply::Ending::Close) {
    ScriptedReply r;
    r.chunks = std::move(chunks);
    r.gap = 50ms; // separate reads on the client side
    r.ending = ending;
    return r;
}

const std::string kHead = "HTTP/1.0 200 OK\r\nServer: test\r\n\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, UrlGetReplies,
    ::testing::Values(
        ReplyCase{"OnePiece", ScriptedReply::Http("OK 192.0.2.7"), true, "OK 192.0.2.7"},
        ReplyCase{"BodyKeepsTrailingCrLf", ScriptedReply::Http("OK 1.2.3.4\r\n"), true,
                  "OK 1.2.3.4\r\n"},
        ReplyCase{"ByteByByte", ScriptedReply::ByteByByte(kHead + "OK 192.0.2.7 x"), true,
                  "OK 192.0.2.7 x"},
        ReplyCase{"HeaderEndSplitAfterCr", Chunks({"HTTP/1.0 200 OK\r\nA: b\r", "\n\r\nOK"}), true,
                  "OK"},
        ReplyCase{"HeaderEndSplitInMiddle", Chunks({"HTTP/1.0 200 OK\r\n", "\r\nOK 5"}), true,
                  "OK 5"},
        ReplyCase{"HeaderEndSplitThreeWays", Chunks({"H\r", "\n\r", "\nbody"}), true, "body"},
        ReplyCase{"LaterBlankLineStaysInBody", Chunks({kHead + "a\r\n\r\nb"}), true, "a\r\n\r\nb"},
        ReplyCase{"NoBlankLineDeliveredWhole", Chunks({"HTTP/1.0 403 Forbidden\r\n", "X: y"}), true,
                  "HTTP/1.0 403 Forbidden\r\nX: y"},
        ReplyCase{"ClosedWithoutBody", Chunks({kHead}), true, ""},
        ReplyCase{"ClosedWithoutAnything", Chunks({}), true, ""},
        ReplyCase{"ResetMidBody", Chunks({kHead + "OK part"}, ScriptedReply::Ending::Reset), true,
                  "OK part"},
        ReplyCase{"NeverAnswers", Chunks({}, ScriptedReply::Ending::Hang), false, ""},
        ReplyCase{"StallsMidBody", Chunks({kHead + "OK"}, ScriptedReply::Ending::Hang), false, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UrlGet, BodyWithZeroBytesIsKeptInTheBlock) {
    LoopbackServer server;
    server.Enqueue(ScriptedReply::Http(std::string("a\0b", 3)));
    const auto f = FetchToMemory(server.Port());
    EXPECT_TRUE(f.ok);
    EXPECT_EQ(Body(f), std::string("a\0b", 3));
}

TEST(UrlGet, RefusedConnectionMakesNoRequest) {
    Fetched f{false, std::string("stale"), 7};
    EXPECT_FALSE(UrlGet("http://127.0.0.1/x", LoopbackServer::UnusedPort(), "", f.block, f.size));
    // The buffer is only reset once the connection is up; a failed connect leaves the caller's.
    EXPECT_EQ(f.size, 7u);
}

TEST(UrlGet, UrlWithoutPathSendsNothing) {
    LoopbackServer server;
    TMemoryBlock block;
    std::size_t size = 0;
    EXPECT_FALSE(UrlGet("http://127.0.0.1", server.Port(), "", block, size));
    EXPECT_FALSE(server.WaitForRequests(1, 200ms));
}

TEST(UrlGet, UnresolvableHostFails) {
    TMemoryBlock block;
    std::size_t size = 0;
    EXPECT_FALSE(UrlGet("http://no-such-host.invalid/x", 80, "", block, size, 2s));
    EXPECT_FALSE(UrlGet("http://web1.no-such-host.invalid/x", 80, "", block, size, 2s));
}

TEST(UrlGet, NameWithDigitInFirstLabelIsLookedUp) {
    // "localhost" resolves on every machine; a first label with a digit must not be taken
    // for a dotted address. 127.1 is the classic short form of 127.0.0.1 and stays dotted.
    LoopbackServer server;
    TMemoryBlock block;
    std::size_t size = 0;
    EXPECT_TRUE(UrlGet("http://127.1/x", server.Port(), "", block, size));
    EXPECT_TRUE(UrlGet("http://localhost/x", server.Port(), "", block, size));
    ASSERT_TRUE(server.WaitForRequests(2));
    EXPECT_NE(server.Requests()[0].find("Host: 127.1\r\n"), std::string::npos);
}

class UrlGetToFile : public ::testing::Test {
protected:
    void SetUp() override { std::ofstream(path_) << "old content that must go"; }
    std::string Content() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    testing_support::TempFolder temp_;
    const std::filesystem::path path_ = temp_.Path() / "download.bin";
};

TEST_F(UrlGetToFile, WritesRawBodyWithoutHeaderEvenWhenSplit) {
    LoopbackServer server;
    std::string payload;
    for (int i = 0; i < 5000; ++i) {
        payload += static_cast<char>(i * 7);
    }
    server.Enqueue(Chunks(
        {"HTTP/1.0 200 OK\r\nA: 1\r\n\r", "\n" + payload.substr(0, 3000), payload.substr(3000)}));
    TMemoryBlock block;
    std::size_t size = 0;
    EXPECT_TRUE(UrlGet("http://127.0.0.1/pkg", server.Port(), path_.string(), block, size));
    EXPECT_FALSE(block.has_value());
    EXPECT_EQ(Content(), payload);
}

TEST_F(UrlGetToFile, ReadTimeoutFailsAndKeepsWhatWasWritten) {
    LoopbackServer server;
    server.Enqueue(Chunks({kHead + "partial"}, ScriptedReply::Ending::Hang));
    TMemoryBlock block;
    std::size_t size = 0;
    EXPECT_FALSE(UrlGet("http://127.0.0.1/pkg", server.Port(), path_.string(), block, size, 300ms));
    EXPECT_EQ(Content(), "partial");
}

TEST_F(UrlGetToFile, UncreatableFileFails) {
    LoopbackServer server;
    TMemoryBlock block;
    std::size_t size = 0;
    EXPECT_FALSE(UrlGet("http://127.0.0.1/pkg", server.Port(), "/nonexistent-dir/f", block, size));
}

TEST(HasNoDigit, Table) {
    EXPECT_TRUE(HasNoDigit(""));
    EXPECT_TRUE(HasNoDigit("www"));
    EXPECT_FALSE(HasNoDigit("web1"));
    EXPECT_FALSE(HasNoDigit("192"));
}

TEST(ResolveHost, EmptyAndUnknownGiveEmptyText) {
    EXPECT_EQ(ResolveHost(""), "");
    EXPECT_EQ(ResolveHost("no-such-host.invalid"), "");
    EXPECT_EQ(ResolveHost("127.0.0.1"), "127.0.0.1");
}

} // namespace
