// The service call and the update download over TLS, against peers on 127.0.0.1 that hold
// certificates made by the test.

#include "core/Net.h"
#include "core/uEndpoint.h"
#include "core/uTools.h"
#include "tests/support/CertificateRefusals.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScopedNetLimits.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TlsPeers.h"

#include <gtest/gtest.h>

using testing_support::CertificateRefusal;
using testing_support::LoopbackServer;
using testing_support::RawAnswerPeer;
using testing_support::ScopedNetLimits;
using testing_support::ScriptedReply;
using testing_support::TempFolder;
using testing_support::TestAuthority;
using testing_support::TlsLoopbackServer;
using namespace std::chrono_literals;

namespace {

class SecureServiceCallTest : public ::testing::Test {
protected:
    SecureServiceCallTest() {
        testing_support::WriteFile(authorityFile_, authority_.CertificatePem());
    }
    ~SecureServiceCallTest() override {
        SetServiceEndpoint({std::string(kDefaultServiceHost), kDefaultServicePort});
    }
    void UseSecureService(std::uint16_t port, const std::string& host = "localhost") {
        SetServiceEndpoint({host, port, true, authorityFile_});
    }
    // The update download as the update task asks for it.
    TFetchResult DownloadTo(const std::string& target) const {
        const TServiceEndpoint endpoint = ServiceEndpoint();
        return Fetch({.Url = ServiceRequestUrl("dlupdate"),
                      .Port = endpoint.Port,
                      .FileName = target,
                      .AuthorityFile = endpoint.AuthorityFile});
    }

    ScopedNetLimits limits_{2s};
    TempFolder folder_;
    TestAuthority authority_;
    std::string authorityFile_ = folder_ / "authority.pem";
};

const std::string kGetipUrlQuery = "action=getip&id=j doe&pswd=a+b/c==&host=PC 1&v=0.3.11.25";

TEST_F(SecureServiceCallTest, RequestInsideTheTunnelIsTheSameBytesAsPlain) {
    TlsLoopbackServer secure(authority_.Issue());
    secure.SetReply("HTTP/1.0 200 OK\r\n\r\nOK 127.0.0.1 192.0.2.1\r\n");
    LoopbackServer plain;
    plain.Enqueue(ScriptedReply::Http("OK 127.0.0.1 192.0.2.1\r\n"));
    const auto call = [] {
        return ServiceCall(ServiceRequestUrl(
            "getip", {{"id", "j doe"}, {"pswd", "a+b/c=="}, {"host", "PC 1"}, {"v", "0.3.11.25"}}));
    };

    SetServiceEndpoint({"localhost", plain.Port()});
    EXPECT_EQ(call(), "OK 127.0.0.1 192.0.2.1\r\n");
    UseSecureService(secure.Port());
    EXPECT_EQ(call(), "OK 127.0.0.1 192.0.2.1\r\n");

    ASSERT_TRUE(plain.WaitForRequests(1));
    ASSERT_TRUE(secure.WaitForRequests(1));
    const std::string path = "bin/corvale/cmd.php?" + kGetipUrlQuery;
    // The same request builder for both; only the port the Host line names differs.
    EXPECT_EQ(plain.Requests()[0], BuildRequest("localhost:" + std::to_string(plain.Port()), path));
    EXPECT_EQ(secure.Requests()[0],
              BuildRequest("localhost:" + std::to_string(secure.Port()), path));
}

// Only the TLS close message shows that a reply of no declared length is whole: a bare close
// can be forged by anyone on the way and would cut a reply, or a package, short unnoticed.
TEST_F(SecureServiceCallTest, CloseWithoutTheTlsCloseMessageEndsOnlyAReplyOfDeclaredLength) {
    struct Case {
        const char* name;
        bool closeMessage;
        const char* head;
        bool whole;
    };
    const Case cases[] = {
        {"close message, no length", true, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n",
         true},
        {"close message, length", true, "HTTP/1.0 200 OK\r\nContent-Length: 14\r\n\r\n", true},
        {"bare close, length", false, "HTTP/1.0 200 OK\r\nContent-Length: 14\r\n\r\n", true},
        {"bare close, no length", false, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n",
         false},
    };
    const std::string body = "OK 192.0.2.1\r\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TlsLoopbackServer secure(authority_.Issue(), {.closeMessage = c.closeMessage});
        secure.SetReply(c.head + body);
        UseSecureService(secure.Port());
        EXPECT_EQ(ServiceCall(ServiceRequestUrl("setip")),
                  c.whole ? body : "ERR -001:Server timeout !");
        const std::string target = folder_ / "update.exe";
        EXPECT_EQ(DownloadTo(target).Ok, c.whole);
    }
}

class SecureServiceRefusals : public SecureServiceCallTest,
                              public ::testing::WithParamInterface<CertificateRefusal> {};

TEST_P(SecureServiceRefusals, GiveTheSecureConnectionText) {
    const CertificateRefusal& c = GetParam();
    TestAuthority stranger("Unknown Authority");
    TlsLoopbackServer secure(c.signedByTestAuthority ? authority_.Issue(c.certificate)
                                                     : stranger.Issue(c.certificate),
                             c.peer);
    UseSecureService(secure.Port());
    EXPECT_EQ(ServiceCall(ServiceRequestUrl("getip")),
              std::string(kSecureConnectionFailedReply) + c.reason);
    EXPECT_TRUE(secure.Requests().empty()) << "no request leaves over a refused connection";
}

INSTANTIATE_TEST_SUITE_P(Peers, SecureServiceRefusals,
                         ::testing::ValuesIn(testing_support::CertificateRefusals()),
                         [](const auto& info) { return std::string(info.param.what); });

TEST_F(SecureServiceCallTest, MessagePartIsWhatTheErrorBoxShows) {
    TlsLoopbackServer secure(authority_.Issue({.validFromDays = -30, .validUntilDays = -1}));
    UseSecureService(secure.Port());
    const TReply reply = SplitReply(ServiceCall(ServiceRequestUrl("getip")));
    EXPECT_EQ(reply.Status, "ERR");
    EXPECT_EQ(reply.Message, "-004:Secure connection failed: certificate has expired");
}

TEST_F(SecureServiceCallTest, PeerThatNeverSpeaksTlsGivesTheTimeoutTextInTime) {
    RawAnswerPeer silent(std::nullopt);
    const ScopedNetLimits quick(300ms);
    UseSecureService(silent.Port());
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(ServiceCall(ServiceRequestUrl("getip")), kServerTimeoutReply);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

TEST_F(SecureServiceCallTest, GarbageInsteadOfAServerHelloIsARefusal) {
    RawAnswerPeer peer(std::string("HTTP/1.0 200 OK\r\n\r\nOK 1.2.3.4 1.2.3.4"));
    UseSecureService(peer.Port());
    EXPECT_EQ(ServiceCall(ServiceRequestUrl("getip")),
              "ERR -004:Secure connection failed: the server does not speak TLS");
}

TEST_F(SecureServiceCallTest, PlainServiceIsNeverAskedForTls) {
    LoopbackServer plain;
    plain.Enqueue(ScriptedReply::Http("OK"));
    SetServiceEndpoint({"127.0.0.1", plain.Port(), false, authorityFile_});
    EXPECT_EQ(ServiceCall(ServiceRequestUrl("setip")), "OK");
    ASSERT_TRUE(plain.WaitForRequests(1));
    EXPECT_EQ(plain.Requests()[0].rfind("GET /bin/corvale/cmd.php?action=setip HTTP/1.0\r\n", 0),
              0u);
}

TEST_F(SecureServiceCallTest, UpdateDownloadArrivesByteForByte) {
    std::string package;
    for (int i = 0; i < 300'000; ++i) {
        package.push_back(static_cast<char>((i * 7919) & 0xFF)); // zero bytes and CR LF included
    }
    TlsLoopbackServer secure(authority_.Issue());
    secure.SetReply("HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n" + package);
    UseSecureService(secure.Port());

    const std::string target = folder_ / "update.exe";
    EXPECT_TRUE(DownloadTo(target).Ok);
    EXPECT_EQ(testing_support::ReadFile(target), package);
}

TEST_F(SecureServiceCallTest, RefusedDownloadCreatesNoFile) {
    TestAuthority stranger("Unknown Authority");
    TlsLoopbackServer secure(stranger.Issue());
    UseSecureService(secure.Port());
    const std::string target = folder_ / "update.exe";
    const TFetchResult result = DownloadTo(target);
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.SecureFailure, "unable to get local issuer certificate");
    EXPECT_FALSE(testing_support::ReadFile(target).has_value());
}

// The authorities are the request's own: none given means the system's, whatever the
// configured service names.
TEST_F(SecureServiceCallTest, AuthorityFileComesWithTheRequest) {
    TlsLoopbackServer secure(authority_.Issue());
    secure.SetReply("HTTP/1.0 200 OK\r\n\r\nOK");
    UseSecureService(secure.Port());
    const std::string url = ServiceRequestUrl("clver");
    const TFetchResult withSystemTrust = Fetch({.Url = url, .Port = secure.Port()});
    EXPECT_FALSE(withSystemTrust.Ok);
    EXPECT_EQ(withSystemTrust.SecureFailure, "unable to get local issuer certificate");
    const TFetchResult withOwnTrust =
        Fetch({.Url = url, .Port = secure.Port(), .AuthorityFile = authorityFile_});
    EXPECT_TRUE(withOwnTrust.Ok);
    EXPECT_EQ(withOwnTrust.Body, std::string("OK", 3));
}

} // namespace
