// The transport against a scripted peer on 127.0.0.1.

#include "core/Net.h"

#include "core/Lib5.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScopedSeam.h"
#include "tests/support/TempFolder.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

// The default limits with another per-read limit.
TNetLimits EachReadWithin(std::chrono::milliseconds perRead) {
    TNetLimits limits;
    limits.PerRead = perRead;
    return limits;
}

TFetchResult FetchToMemory(std::uint16_t port, const std::string& path = "bin/x?a=1",
                           std::chrono::milliseconds timeout = 5s) {
    return Fetch(
        {.Url = "http://127.0.0.1/" + path, .Port = port, .Limits = EachReadWithin(timeout)});
}

std::string Body(const TFetchResult& f) {
    EXPECT_TRUE(f.Body.has_value());
    EXPECT_EQ(f.Body->back(), '\0') << "the block ends with one zero byte";
    return f.Body->substr(0, f.Body->size() - 1);
}

TEST(BuildRequest, FixedPartIs362Bytes) {
    EXPECT_EQ(kFixedRequestPart.size(), 362u);
    EXPECT_EQ(BuildRequest("", ""), kFixedRequestPart);
}

// The fixed lines of every request, written out here rather than taken from the code.
const std::string kRequestHeaderLines =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
    "application/x-shockwave-flash, application/vnd.ms-excel, "
    "application/vnd.ms-powerpoint, application/msword, */*\r\n"
    "Accept-Language: en-us\r\n"
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR "
    "1.1.4322; .NET CLR 2.0.50727)\r\n";

TEST(Fetch, SendsExactlyTheRequestBytes) {
    LoopbackServer server;
    const auto f =
        FetchToMemory(server.Port(), "bin/corvale/cmd.php?action=getip&id=jo+e&pswd=a/b=");
    ASSERT_TRUE(server.WaitForRequests(1));
    EXPECT_TRUE(f.Ok);
    EXPECT_EQ(server.Requests()[0],
              "GET /bin/corvale/cmd.php?action=getip&id=jo+e&pswd=a/b= HTTP/1.0\r\n" +
                  kRequestHeaderLines + "Host: 127.0.0.1:" + std::to_string(server.Port()) +
                  "\r\n"
                  "Proxy-Connection: Keep-Alive\r\n\r\n");
}

TEST(Fetch, LongRequestIsSentWhole) {
    LoopbackServer server;
    const std::string path = "p?x=" + std::string(100'000, 'y'); // far past 1024 bytes
    const auto f = FetchToMemory(server.Port(), path);
    ASSERT_TRUE(server.WaitForRequests(1));
    EXPECT_TRUE(f.Ok);
    EXPECT_EQ(server.Requests()[0], BuildRequest(HostField("127.0.0.1", server.Port()), path));
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

class FetchReplies : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(FetchReplies, DeliversTheBody) {
    LoopbackServer server;
    server.Enqueue(GetParam().reply);
    const auto f = FetchToMemory(server.Port(), "x", 2s);
    EXPECT_EQ(f.Ok, GetParam().ok);
    EXPECT_TRUE(f.RequestSent);
    EXPECT_EQ(f.SecureFailure, "");
    if (GetParam().ok) {
        EXPECT_EQ(Body(f), GetParam().body);
    } else {
        EXPECT_FALSE(f.Body.has_value());
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
std::string kLengthHead(std::size_t length) {
    return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FetchReplies,
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
        // Servers do end a reply without a length this way.
        ReplyCase{"ResetAfterBodyWithoutLength",
                  Chunks({kHead + "OK part"}, ScriptedReply::Ending::Reset), true, "OK part"},
        ReplyCase{"ResetMidHeader",
                  Chunks({"HTTP/1.0 200 OK\r\nServer: te"}, ScriptedReply::Ending::Reset), false,
                  ""},
        ReplyCase{"ResetBeforeTheDeclaredLength",
                  Chunks({kLengthHead(20) + "OK 203.0.11"}, ScriptedReply::Ending::Reset), false,
                  ""},
        ReplyCase{"ClosedBeforeTheDeclaredLength", Chunks({kLengthHead(20) + "OK 203.0.11"}), false,
                  ""},
        ReplyCase{"ResetAfterTheDeclaredLength",
                  Chunks({kLengthHead(14) + "OK 203.0.113.9"}, ScriptedReply::Ending::Reset), true,
                  "OK 203.0.113.9"},
        // A peer that keeps the connection open after a complete reply: no wait for its close.
        ReplyCase{"DeclaredLengthReachedOnAnOpenConnection",
                  Chunks({kLengthHead(14) + "OK 203.0.113.9"}, ScriptedReply::Ending::Hang), true,
                  "OK 203.0.113.9"},
        ReplyCase{"DeclaredLengthReachedOverSeveralReads",
                  Chunks({kLengthHead(14), "OK 203.", "0.113.9"}, ScriptedReply::Ending::Hang),
                  true, "OK 203.0.113.9"},
        ReplyCase{"DeclaredLengthZero", Chunks({kLengthHead(0)}, ScriptedReply::Ending::Hang), true,
                  ""},
        ReplyCase{"BytesPastTheDeclaredLengthAreNotBody", Chunks({kLengthHead(2) + "OK junk"}),
                  true, "OK"},
        ReplyCase{"LengthNameInAnyCase",
                  Chunks({"HTTP/1.0 200 OK\r\ncontent-LENGTH:\t 2 \r\n\r\nOK"},
                         ScriptedReply::Ending::Hang),
                  true, "OK"},
        // Lengths that cannot be trusted are no lengths: the close ends the reply.
        ReplyCase{
            "DisagreeingLengthsReadUntilClose",
            Chunks({"HTTP/1.0 200 OK\r\nContent-Length: 2\r\nContent-Length: 4\r\n\r\nOK 1.2"}),
            true, "OK 1.2"},
        ReplyCase{"LengthThatIsNoNumberReadUntilClose",
                  Chunks({"HTTP/1.0 200 OK\r\nContent-Length: 2x\r\n\r\nOK 1.2"}), true, "OK 1.2"},
        ReplyCase{"NeverAnswers", Chunks({}, ScriptedReply::Ending::Hang), false, ""},
        ReplyCase{"StallsMidBody", Chunks({kHead + "OK"}, ScriptedReply::Ending::Hang), false, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Fetch, BodyWithZeroBytesIsKeptInTheBlock) {
    LoopbackServer server;
    server.Enqueue(ScriptedReply::Http(std::string("a\0b", 3)));
    const auto f = FetchToMemory(server.Port());
    EXPECT_TRUE(f.Ok);
    EXPECT_EQ(Body(f), std::string("a\0b", 3));
}

TEST(Fetch, RefusedConnectionMakesNoRequest) {
    const auto f = Fetch({.Url = "http://127.0.0.1/x", .Port = LoopbackServer::UnusedPort()});
    EXPECT_FALSE(f.Ok);
    EXPECT_FALSE(f.RequestSent);
    EXPECT_FALSE(f.Body.has_value());
}

TEST(Fetch, UrlWithoutPathSendsNothing) {
    LoopbackServer server;
    const auto f = Fetch({.Url = "http://127.0.0.1", .Port = server.Port()});
    EXPECT_FALSE(f.Ok);
    EXPECT_FALSE(f.RequestSent);
    EXPECT_FALSE(server.WaitForRequests(1, 200ms));
}

TEST(Fetch, UnresolvableHostFails) {
    for (const char* url :
         {"http://no-such-host.invalid/x", "http://web1.no-such-host.invalid/x"}) {
        SCOPED_TRACE(url);
        const auto f = Fetch({.Url = url, .Port = 80, .Limits = EachReadWithin(2s)});
        EXPECT_FALSE(f.Ok);
        EXPECT_FALSE(f.RequestSent);
    }
}

// The named function's out-parameters: the caller's values stay until a request went out.
TEST(UrlGet, OutParametersFollowTheRequest) {
    testing_support::TempFolder temp;
    const std::string file = (temp.Path() / "download.bin").string();
    LoopbackServer server;
    ScriptedReply reset;
    reset.chunks = {"HTTP/1.0 200 OK\r\nServer: te"};
    reset.ending = ScriptedReply::Ending::Reset;
    struct Case {
        const char* what;
        std::uint16_t port;
        std::string fileName;
        std::optional<ScriptedReply> reply;
        bool ok;
        TMemoryBlock block;
        std::size_t size;
    };
    for (const Case& c : {Case{"memory body", server.Port(), "", ScriptedReply::Http("OK 1"), true,
                               std::string("OK 1", 5), 5},
                          Case{"memory failure", server.Port(), "", reset, false, std::nullopt, 0},
                          Case{"no connection", LoopbackServer::UnusedPort(), "", std::nullopt,
                               false, std::string("stale"), 7},
                          Case{"file body", server.Port(), file, ScriptedReply::Http("MZ"), true,
                               std::string("stale"), 7},
                          Case{"file failure", server.Port(), file, reset, false, std::nullopt, 0},
                          Case{"file not created", server.Port(), "/nonexistent-dir/f",
                               std::nullopt, false, std::string("stale"), 7}}) {
        SCOPED_TRACE(c.what);
        if (c.reply) {
            server.Enqueue(*c.reply);
        }
        TMemoryBlock block = std::string("stale");
        std::size_t size = 7;
        EXPECT_EQ(UrlGet("http://127.0.0.1/x", c.port, c.fileName, block, size), c.ok);
        EXPECT_EQ(block, c.block);
        EXPECT_EQ(size, c.size);
    }
}

TEST(Fetch, TricklingPeerIsCutOffAtTheWholeExchangeLimit) {
    // Each byte comes well within the per-read limit; only the whole-exchange limit ends it.
    LoopbackServer server;
    ScriptedReply trickle = ScriptedReply::ByteByByte(kHead + std::string(40, 'x'));
    trickle.gap = 100ms;
    server.Enqueue(trickle);
    TNetLimits limits;
    limits.PerRead = 2s;
    limits.Exchange = 1s;
    const auto started = std::chrono::steady_clock::now();
    const auto f = Fetch({.Url = "http://127.0.0.1/x", .Port = server.Port(), .Limits = limits});
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_FALSE(f.Ok);
    EXPECT_FALSE(f.Body.has_value());
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 3500ms) << "the exchange went on past its limit";
}

TEST(NetLimits, Defaults) {
    const TNetLimits limits;
    EXPECT_EQ(limits.PerRead, 30s);
    EXPECT_EQ(limits.Exchange, 60s);
    EXPECT_EQ(limits.MemoryBody, 1024u * 1024u);
    EXPECT_EQ(limits.FileBody, 256u * 1024u * 1024u);
    EXPECT_EQ(limits.FileProgressBytes, 64u * 1024u);
    EXPECT_EQ(limits.FileProgressSpan, 30s);
}

struct SizeCase {
    const char* name;
    std::string head;
    std::uint64_t bodyBytes;
    bool ok;
};

TEST(Fetch, MemoryBodyStopsAtOneMebibyte) {
    for (const SizeCase& c :
         {SizeCase{"exactly the limit", kHead, kMaxMemoryBody, true},
          SizeCase{"2 MiB", kHead, 2 * kMaxMemoryBody, false},
          SizeCase{"one byte past", kHead, kMaxMemoryBody + 1, false},
          SizeCase{"2 MiB declared", kLengthHead(2 * kMaxMemoryBody), 2 * kMaxMemoryBody, false},
          SizeCase{"no header end", "", 2 * kMaxMemoryBody, false}}) {
        SCOPED_TRACE(c.name);
        LoopbackServer server;
        ScriptedReply big;
        if (!c.head.empty()) {
            big.chunks = {c.head};
        }
        big.fillerBytes = c.bodyBytes;
        server.Enqueue(big);
        const auto f = FetchToMemory(server.Port(), "x", 5s);
        EXPECT_EQ(f.Ok, c.ok);
        if (c.ok) {
            ASSERT_TRUE(f.Body.has_value());
            EXPECT_EQ(f.Body->size(), c.bodyBytes + 1);
        } else {
            EXPECT_FALSE(f.Body.has_value()) << "the block is freed";
        }
    }
}

// Records every name the transport looks up and answers from a table of its own.
class PrivateResolver {
public:
    explicit PrivateResolver(std::map<std::string, std::string> table) : table_(std::move(table)) {}
    std::vector<std::string> Asked() const {
        std::lock_guard lock(mutex_);
        return asked_;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string> table_;
    std::vector<std::string> asked_;
    testing_support::ScopedSeam<std::function<std::string(const std::string&)>> seam_{
        SetResolverForTests, [this](const std::string& name) {
            std::lock_guard lock(mutex_);
            asked_.push_back(name);
            const auto found = table_.find(name);
            return found == table_.end() ? std::string() : found->second;
        }};
};

TEST(Fetch, HostsAreLookedUpByNameUnlessTheyAreDottedAddresses) {
    LoopbackServer server;
    PrivateResolver resolver({{"web1.corvale.test", "127.0.0.1"},
                              {"www.corvale.test", "127.0.0.1"},
                              {"localhost", "127.0.0.1"}});
    struct Case {
        const char* host;
        bool reached;
        std::vector<std::string> asked; // the names looked up
    };
    for (const Case& c : {Case{"web1.corvale.test", true, {"web1.corvale.test"}},
                          Case{"www.corvale.test", true, {"www.corvale.test"}},
                          Case{"localhost", true, {"localhost"}}, Case{"127.0.0.1", true, {}},
                          Case{"127.1", true, {}}, // the classic short form stays dotted
                          Case{"9web.unknown.test", false, {"9web.unknown.test"}}}) {
        SCOPED_TRACE(c.host);
        const std::size_t before = resolver.Asked().size();
        EXPECT_EQ(Fetch({.Url = std::string("http://") + c.host + "/x",
                         .Port = server.Port(),
                         .Limits = EachReadWithin(2s)})
                      .Ok,
                  c.reached);
        const auto asked = resolver.Asked();
        EXPECT_EQ(std::vector<std::string>(asked.begin() + static_cast<long>(before), asked.end()),
                  c.asked);
    }
    ASSERT_TRUE(server.WaitForRequests(5));
    EXPECT_NE(server.Requests()[0].find("Host: web1.corvale.test:" + std::to_string(server.Port()) +
                                        "\r\n"),
              std::string::npos);
}

// One request on 127.0.0.1:80, the service's own port, read whole; none when that port cannot
// be had here (it needs privileges, or something else holds it).
std::optional<std::string> RequestReceivedOnPort80(const std::function<void()>& send) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(80);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 1) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    std::string request;
    std::thread peer([&] {
        const int client = ::accept(fd, nullptr, nullptr);
        char buffer[4096];
        while (client >= 0 && request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) {
                break;
            }
            request.append(buffer, static_cast<std::size_t>(n));
        }
        const std::string_view reply = "HTTP/1.0 200 OK\r\n\r\nOK";
        [[maybe_unused]] const ssize_t sent =
            ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
        ::close(client);
    });
    send();
    peer.join();
    ::close(fd);
    return request;
}

// The service's own port is the one the Host line never names: the request, byte for byte.
TEST(Fetch, RequestToPort80NamesTheHostAlone) {
    const std::string expected = "GET /bin/corvale/cmd.php?action=clver HTTP/1.0\r\n" +
                                 kRequestHeaderLines +
                                 "Host: service.corvale.test\r\n"
                                 "Proxy-Connection: Keep-Alive\r\n\r\n";
    EXPECT_EQ(
        BuildRequest(HostField("service.corvale.test", 80), "bin/corvale/cmd.php?action=clver"),
        expected);

    PrivateResolver resolver(
        std::map<std::string, std::string>{{"service.corvale.test", "127.0.0.1"}});
    bool ok = false;
    const auto received = RequestReceivedOnPort80([&] {
        ok = Fetch({.Url = "http://service.corvale.test/bin/corvale/cmd.php?action=clver",
                    .Port = 80,
                    .Limits = EachReadWithin(5s)})
                 .Ok;
    });
    if (!received) {
        GTEST_SKIP() << "port 80 on 127.0.0.1 cannot be had here; the built request was checked";
    }
    EXPECT_TRUE(ok);
    EXPECT_EQ(*received, expected);
}

TEST(HostField, NamesThePortUnlessItIsTheDefault) {
    struct Case {
        const char* host;
        std::uint16_t port;
        const char* field;
    };
    for (const Case& c : {Case{"service.corvale.example", 80, "service.corvale.example"},
                          Case{"127.0.0.1", 8080, "127.0.0.1:8080"},
                          Case{"localhost", 1, "localhost:1"}, Case{"host", 65535, "host:65535"},
                          Case{"host:81", 8080, "host:81"}}) { // already named in the URL
        EXPECT_EQ(HostField(c.host, c.port), c.field) << c.host << " " << c.port;
    }
    EXPECT_EQ(HostField("secure.example", 443, 443), "secure.example");
}

TEST(Fetch, HostLineNamesANonDefaultPortAndNothingElseChanges) {
    LoopbackServer server;
    ASSERT_TRUE(
        Fetch({.Url = "http://127.0.0.1/bin/corvale/cmd.php?action=clver", .Port = server.Port()})
            .Ok);
    ASSERT_TRUE(server.WaitForRequests(1));
    std::string expected = BuildRequest("127.0.0.1", "bin/corvale/cmd.php?action=clver");
    const std::string plainHost = "Host: 127.0.0.1\r\n";
    expected.replace(expected.find(plainHost), plainHost.size(),
                     "Host: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n");
    EXPECT_EQ(server.Requests()[0], expected);
}

class FetchToFile : public ::testing::Test {
protected:
    void SetUp() override { std::ofstream(path_) << "old content that must go"; }
    TFetchResult FetchPackage(std::uint16_t port, std::chrono::milliseconds perRead = 30s) const {
        return Fetch({.Url = "http://127.0.0.1/pkg",
                      .Port = port,
                      .FileName = path_.string(),
                      .Limits = EachReadWithin(perRead)});
    }
    std::string Content() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    testing_support::TempFolder temp_;
    const std::filesystem::path path_ = temp_.Path() / "download.bin";
};

TEST_F(FetchToFile, WritesRawBodyWithoutHeaderEvenWhenSplit) {
    LoopbackServer server;
    std::string payload;
    for (int i = 0; i < 5000; ++i) {
        payload += static_cast<char>(i * 7);
    }
    server.Enqueue(Chunks(
        {"HTTP/1.0 200 OK\r\nA: 1\r\n\r", "\n" + payload.substr(0, 3000), payload.substr(3000)}));
    const auto f = FetchPackage(server.Port());
    EXPECT_TRUE(f.Ok);
    EXPECT_FALSE(f.Body.has_value());
    EXPECT_EQ(Content(), payload);
}

TEST_F(FetchToFile, ReadTimeoutFailsAndKeepsWhatWasWritten) {
    LoopbackServer server;
    server.Enqueue(Chunks({kHead + "partial"}, ScriptedReply::Ending::Hang));
    EXPECT_FALSE(FetchPackage(server.Port(), 300ms).Ok);
    EXPECT_EQ(Content(), "partial");
}

TEST_F(FetchToFile, BodyPastTheFileLimitFailsAndLeavesNoFile) {
    LoopbackServer server;
    ScriptedReply huge;
    huge.chunks = {kHead};
    huge.fillerBytes = 300ull * 1024 * 1024;
    server.Enqueue(huge);
    EXPECT_FALSE(FetchPackage(server.Port(), 20s).Ok);
    EXPECT_FALSE(std::filesystem::exists(path_)) << "a package that is too large is removed";
}

TEST_F(FetchToFile, DeclaredLengthPastTheFileLimitFailsAtOnce) {
    LoopbackServer server;
    server.Enqueue(Chunks({kLengthHead(kMaxFileBody + 1) + "MZ"}, ScriptedReply::Ending::Hang));
    EXPECT_FALSE(FetchPackage(server.Port(), 5s).Ok);
    EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(FetchToFile, CutOffBeforeTheDeclaredLengthFailsAndKeepsWhatWasWritten) {
    LoopbackServer server;
    server.Enqueue(Chunks({kLengthHead(100) + "#!/bin/sh\n"}, ScriptedReply::Ending::Reset));
    EXPECT_FALSE(FetchPackage(server.Port()).Ok);
    EXPECT_EQ(Content(), "#!/bin/sh\n");
}

// The header bytes written before the header end was seen are dropped through the open file
// itself: the download works where /proc is not mounted.
TEST_F(FetchToFile, HeaderBytesAreDroppedWithoutProc) {
    LoopbackServer server;
    server.Enqueue(Chunks({"HTTP/1.0 200 OK\r\nA: 1\r\n\r", "\nMZ body", " end"}));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A mount namespace of its own, where /proc is an empty folder.
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("none", "/proc", "tmpfs", 0, nullptr) != 0) {
            ::_exit(77);
        }
        ::_exit(FetchPackage(server.Port(), 5s).Ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "hiding /proc needs a mount namespace, which this system does not allow";
    }
    ASSERT_TRUE(WIFEXITED(status)) << "the download crashed";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the download failed";
    EXPECT_EQ(Content(), "MZ body end");
}

TEST_F(FetchToFile, UncreatableFileFails) {
    LoopbackServer server;
    const auto f = Fetch(
        {.Url = "http://127.0.0.1/pkg", .Port = server.Port(), .FileName = "/nonexistent-dir/f"});
    EXPECT_FALSE(f.Ok);
    EXPECT_FALSE(f.RequestSent);
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
