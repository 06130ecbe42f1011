// The wire helpers: the parts of an HTTP message, the listening socket and the raw client, and
// the seam guard. A missing answer must never read as an empty one, and a peer that does not
// close must never read as one that did.

#include "tests/support/HttpText.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/LoopbackSocket.h"
#include "tests/support/RawLoopbackClient.h"
#include "tests/support/ScopedSeam.h"

#include <functional>
#include <gtest/gtest.h>

namespace testing_support {
namespace {

using namespace std::chrono_literals;

TEST(HttpTextTest, SplitsAMessageAtTheBlankLineThatEndsItsHead) {
    struct Case {
        const char* name;
        std::string message, head, body, statusLine;
    };
    const Case cases[] = {
        {"a reply", "HTTP/1.0 200 OK\r\nA: b\r\n\r\nOK 1", "HTTP/1.0 200 OK\r\nA: b\r\n", "OK 1",
         "HTTP/1.0 200 OK"},
        {"an empty body", "HTTP/1.0 200 OK\r\n\r\n", "HTTP/1.0 200 OK\r\n", "", "HTTP/1.0 200 OK"},
        {"a blank line in the body", "H\r\n\r\na\r\n\r\nb", "H\r\n", "a\r\n\r\nb", "H"},
        {"a head cut off", "HTTP/1.0 200 OK\r\nA: b", "HTTP/1.0 200 OK\r\nA: b",
         std::string(kNoBody), "HTTP/1.0 200 OK"},
        {"nothing at all", "", "", std::string(kNoBody), ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HeadOf(c.message), c.head) << c.name;
        EXPECT_EQ(BodyOf(c.message), c.body) << c.name;
        EXPECT_EQ(StatusLineOf(c.message), c.statusLine) << c.name;
    }
}

TEST(HttpTextTest, ReadsARequestHeadPieceByPieceAndStopsAtItsEndOrTheClose) {
    const auto reader = [](std::vector<std::string> pieces) {
        return [pieces = std::move(pieces), next = std::size_t{0}](char* buffer,
                                                                   std::size_t size) mutable {
            if (next == pieces.size()) {
                return 0;
            }
            const std::string& piece = pieces[next++];
            EXPECT_LE(piece.size(), size);
            piece.copy(buffer, piece.size());
            return static_cast<int>(piece.size());
        };
    };
    EXPECT_EQ(ReadRequestHead(reader({"GET / HTTP/1.0\r", "\n\r", "\nrest", "never read"})),
              "GET / HTTP/1.0\r\n\r\nrest");
    EXPECT_EQ(ReadRequestHead(reader({"GET / HT"})), "GET / HT") << "the peer closed";
}

TEST(RawLoopbackClientTest, ReadsAllThePeerSentUntilItCloses) {
    LoopbackServer server;
    server.Enqueue(ScriptedReply::Http("first"));
    EXPECT_EQ(ExchangeOnLoopback(server.Port(), "GET /a HTTP/1.0\r\n\r\n", 10s),
              "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nfirst");
    ASSERT_TRUE(server.WaitForRequests(1));
    EXPECT_EQ(server.Requests()[0], "GET /a HTTP/1.0\r\n\r\n");

    ScriptedReply pieces = ScriptedReply::ByteByByte("HTTP/1.0 200 OK\r\n\r\nslow");
    server.Enqueue(pieces);
    RawLoopbackClient client(server.Port(), "127.0.0.1", "127.0.0.2");
    ASSERT_TRUE(client.Connected()) << "from another loopback address";
    ASSERT_TRUE(client.Send("GET /b HTTP/1.0\r\n\r\n"));
    const auto [bytes, closed] = client.ReadUntilClose(10s);
    EXPECT_TRUE(closed);
    EXPECT_EQ(BodyOf(bytes), "slow");
}

TEST(RawLoopbackClientTest, APeerThatKeepsTheConnectionOpenIsNoClose) {
    LoopbackServer server;
    ScriptedReply hang = ScriptedReply::Http("partial");
    hang.ending = ScriptedReply::Ending::Hang;
    server.Enqueue(hang);
    server.Enqueue(hang);
    RawLoopbackClient client(server.Port());
    ASSERT_TRUE(client.Send("GET / HTTP/1.0\r\n\r\n"));
    const auto [bytes, closed] = client.ReadUntilClose(300ms);
    EXPECT_FALSE(closed);
    EXPECT_EQ(BodyOf(bytes), "partial");
    EXPECT_EQ(ExchangeOnLoopback(server.Port(), "GET / HTTP/1.0\r\n\r\n", 300ms), "")
        << "no close, no answer";
}

TEST(RawLoopbackClientTest, ConnectsNowhereWhereNothingListens) {
    RawLoopbackClient client(LoopbackSocket::UnusedPort());
    EXPECT_FALSE(client.Connected());
    EXPECT_FALSE(client.Send("x"));
    EXPECT_EQ(client.ReadSome(10, 10ms), "");
    EXPECT_FALSE(client.ReadUntilClose(10ms).closed);
}

TEST(LoopbackSocketTest, ListensOnAPortOfItsOwnUntilItGoes) {
    std::uint16_t port = 0;
    {
        const LoopbackSocket first;
        const LoopbackSocket second;
        port = first.Port();
        EXPECT_NE(port, 0);
        EXPECT_NE(first.Port(), second.Port());
        EXPECT_TRUE(RawLoopbackClient(port).Connected());
    }
    EXPECT_FALSE(RawLoopbackClient(port).Connected());
}

// A seam as the program has them: a function that replaces a behaviour, empty for the real one.
std::function<int()> seam;
void SetSeam(std::function<int()> replacement) {
    seam = std::move(replacement);
}

TEST(ScopedSeamTest, SetsTheSeamForItsScopeAndPutsTheRealOneBack) {
    {
        const ScopedSeam guard(SetSeam, [] { return 7; });
        ASSERT_TRUE(seam);
        EXPECT_EQ(seam(), 7);
    }
    EXPECT_FALSE(seam) << "the real behaviour is back";
}

} // namespace
} // namespace testing_support
