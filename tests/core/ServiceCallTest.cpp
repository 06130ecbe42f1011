// The service call and the reply convention against a scripted peer on 127.0.0.1.

#include "core/Net.h"
#include "core/uEndpoint.h"
#include "core/uTools.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScopedNetLimits.h"

#include <gtest/gtest.h>

using testing_support::LoopbackServer;
using testing_support::ScopedNetLimits;
using testing_support::ScriptedReply;
using namespace std::chrono_literals;

namespace {

class ServiceCallTest : public ::testing::Test {
protected:
    void SetUp() override { SetServiceEndpoint({"127.0.0.1", server_.Port()}); }
    void TearDown() override {
        SetServiceEndpoint({std::string(kDefaultServiceHost), kDefaultServicePort});
    }
    ScopedNetLimits limits_{500ms};
    LoopbackServer server_;
};

TEST_F(ServiceCallTest, ReturnsBodyAsSentAndGoesToConfiguredPort) {
    server_.Enqueue(ScriptedReply::Http("OK 192.0.2.7 192.0.2.7\r\n"));
    EXPECT_EQ(ServiceCall(ServiceRequestUrl("getip", {{"id", "jdoe"}})),
              "OK 192.0.2.7 192.0.2.7\r\n");
    ASSERT_TRUE(server_.WaitForRequests(1));
    EXPECT_EQ(server_.Requests()[0].rfind(
                  "GET /bin/corvale/cmd.php?action=getip&id=jdoe HTTP/1.0\r\n", 0),
              0u);
}

struct FailureCase {
    const char* name;
    ScriptedReply reply;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class ServiceCallFailures : public ServiceCallTest,
                            public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ServiceCallFailures, GiveTheTimeoutText) {
    server_.Enqueue(GetParam().reply);
    EXPECT_EQ(ServiceCall(ServiceRequestUrl("getip")), kServerTimeoutReply);
}

ScriptedReply Raw(std::vector<std::string> chunks, ScriptedReply::Ending ending) {
    ScriptedReply r;
    r.chunks = std::move(chunks);
    r.ending = ending;
    return r;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServiceCallFailures,
    ::testing::Values(FailureCase{"EmptyBody", ScriptedReply::Http("")},
                      FailureCase{"NothingAtAll", Raw({}, ScriptedReply::Ending::Close)},
                      FailureCase{"ZeroByteFirst", ScriptedReply::Http(std::string("\0OK", 3))},
                      FailureCase{"NeverAnswers", Raw({}, ScriptedReply::Ending::Hang)},
                      FailureCase{"StallsAfterHead", Raw({"HTTP/1.0 200 OK\r\n\r\nOK 1"},
                                                         ScriptedReply::Ending::Hang)},
                      FailureCase{"ResetBeforeBody",
                                  Raw({"HTTP/1.0 200 OK\r\n\r\n"}, ScriptedReply::Ending::Reset)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServiceCallTest, RefusedConnectionGivesTheTimeoutText) {
    SetServiceEndpoint({"127.0.0.1", LoopbackServer::UnusedPort()});
    EXPECT_EQ(ServiceCall(ServiceRequestUrl("getip")), kServerTimeoutReply);
}

TEST_F(ServiceCallTest, PeerThatTricklesItsReplyEndsInTheTimeoutText) {
    TNetLimits limits;
    limits.PerRead = 1s; // every byte comes in time for the per-read limit
    limits.Exchange = 800ms;
    const ScopedNetLimits trickling(limits);
    ScriptedReply trickle = ScriptedReply::ByteByByte("HTTP/1.0 200 OK\r\n\r\nOK 192.0.2.7 x");
    trickle.gap = 150ms;
    server_.Enqueue(trickle);
    EXPECT_EQ(ServiceCall(ServiceRequestUrl("getip")), kServerTimeoutReply);
}

TEST_F(ServiceCallTest, CutOffRepliesGiveTheTimeoutText) {
    for (const std::string& sent :
         {std::string("HTTP/1.0 200 OK\r\nContent-Length: 14\r\n\r\nOK 203.0.11"),
          std::string("HTTP/1.0 200 OK\r\nContent-Type: text/pl")}) {
        SCOPED_TRACE(sent);
        server_.Enqueue(Raw({sent}, ScriptedReply::Ending::Reset));
        EXPECT_EQ(ServiceCall(ServiceRequestUrl("getip")), kServerTimeoutReply);
    }
}

TEST_F(ServiceCallTest, ReplyOverOneMebibyteGivesTheTimeoutText) {
    ScriptedReply big = ScriptedReply::Http("OK ");
    big.fillerBytes = 2 * kMaxMemoryBody;
    server_.Enqueue(big);
    EXPECT_EQ(ServiceCall(ServiceRequestUrl("getip")), kServerTimeoutReply);
}

TEST_F(ServiceCallTest, TextEndsAtFirstZeroByte) {
    server_.Enqueue(ScriptedReply::Http(std::string("OK 1\0junk", 9)));
    EXPECT_EQ(ServiceCall(ServiceRequestUrl("getip")), "OK 1");
}

TEST_F(ServiceCallTest, ResetAfterBodyKeepsIt) {
    server_.Enqueue(Raw({"HTTP/1.0 200 OK\r\n\r\nOK 9.9.9.9"}, ScriptedReply::Ending::Reset));
    EXPECT_EQ(ServiceCall(ServiceRequestUrl("getip")), "OK 9.9.9.9");
}

struct ReplyCase {
    std::string text, status, message;
    bool ok;
};

class SplitReplyTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(SplitReplyTest, CutsAtFirstBlank) {
    const TReply r = SplitReply(GetParam().text);
    EXPECT_EQ(r.Status, GetParam().status);
    EXPECT_EQ(r.Message, GetParam().message);
    EXPECT_EQ(r.IsOK(), GetParam().ok);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitReplyTest,
    ::testing::Values(
        ReplyCase{"OK 192.0.2.7", "OK", "192.0.2.7", true}, ReplyCase{"OK", "OK", "", true},
        ReplyCase{"OK 1.2.3.4 5.6.7.8", "OK", "1.2.3.4 5.6.7.8", true},
        ReplyCase{"ok 1", "ok", "1", false}, ReplyCase{"OK\r\n", "OK\r\n", "", false},
        ReplyCase{"Forbidden", "Forbidden", "", false}, ReplyCase{" OK", "", "OK", false},
        ReplyCase{std::string(kServerTimeoutReply), "ERR", "-001:Server timeout !", false}));

} // namespace
