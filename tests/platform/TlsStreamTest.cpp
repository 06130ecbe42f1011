// The client's TLS layer against peers on 127.0.0.1 with certificates made here.

#include "platform/TlsStream.h"

#include "platform/Socket.h"
#include "tests/support/CertificateRefusals.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TlsPeers.h"

#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using platform::ReadStatus;
using platform::TlsStream;
using testing_support::CertificateRefusal;
using testing_support::RawAnswerPeer;
using testing_support::TempFolder;
using testing_support::TestAuthority;
using testing_support::TlsLoopbackServer;

namespace {

platform::TcpConnection ConnectLoopback(std::uint16_t port) {
    auto connection = platform::TcpConnection::Connect(htonl(INADDR_LOOPBACK), port, 5s);
    if (!connection) {
        throw std::runtime_error("cannot connect to the test peer");
    }
    return std::move(*connection);
}

platform::Deadline In(std::chrono::milliseconds wait) {
    return std::chrono::steady_clock::now() + wait;
}

class TlsStreamTest : public ::testing::Test {
protected:
    TlsStreamTest() { testing_support::WriteFile(authorityFile, authority.CertificatePem()); }

    // Handshake, one request, the whole reply until the peer closes.
    std::string Exchange(std::uint16_t port, const std::string& name, const std::string& request) {
        auto lower = ConnectLoopback(port);
        auto opened = TlsStream::Open(lower, name, authorityFile, In(5s));
        EXPECT_EQ(opened.outcome, TlsStream::Outcome::Established) << opened.reason;
        if (!opened.stream) {
            return {};
        }
        EXPECT_TRUE(opened.stream->SendAll(request, In(5s)));
        std::string reply;
        char buffer[1024];
        for (;;) {
            const auto read = opened.stream->Receive(buffer, sizeof buffer, In(5s));
            if (read.status != ReadStatus::Data) {
                EXPECT_EQ(read.status, ReadStatus::Closed);
                return reply;
            }
            reply.append(buffer, read.count);
        }
    }

    TlsStream::Opened Handshake(std::uint16_t port, const std::string& name,
                                std::chrono::milliseconds timeout = 5s) {
        lower_ = std::make_unique<platform::TcpConnection>(ConnectLoopback(port));
        return TlsStream::Open(*lower_, name, authorityFile, In(timeout));
    }

    TempFolder folder;
    TestAuthority authority;
    std::string authorityFile = folder / "authority.pem";

private:
    std::unique_ptr<platform::TcpConnection> lower_;
};

TEST_F(TlsStreamTest, CarriesTheRequestAndTheReplyUnchanged) {
    TlsLoopbackServer server(authority.Issue());
    const std::string reply = "HTTP/1.0 200 OK\r\n\r\nOK 127.0.0.1 " + std::string(5000, 'x');
    server.SetReply(reply);
    const std::string request = "GET /a?b=c HTTP/1.0\r\nHost: localhost\r\n\r\n";

    EXPECT_EQ(Exchange(server.Port(), "localhost", request), reply);
    ASSERT_TRUE(server.WaitForRequests(1));
    EXPECT_EQ(server.Requests()[0], request);
}

TEST_F(TlsStreamTest, AcceptsAnAddressNamedInTheCertificate) {
    TlsLoopbackServer server(authority.Issue({.dnsNames = {}, .ipAddresses = {"127.0.0.1"}}));
    EXPECT_EQ(Handshake(server.Port(), "127.0.0.1").outcome, TlsStream::Outcome::Established);
}

class TlsRefusalTest : public TlsStreamTest,
                       public ::testing::WithParamInterface<CertificateRefusal> {};

TEST_P(TlsRefusalTest, IsRefusedWithAShortReason) {
    const CertificateRefusal& c = GetParam();
    TestAuthority stranger("Someone Else's Authority");
    const auto identity =
        c.signedByTestAuthority ? authority.Issue(c.certificate) : stranger.Issue(c.certificate);
    TlsLoopbackServer server(identity, c.peer);

    const auto opened = Handshake(server.Port(), "localhost");
    EXPECT_EQ(opened.outcome, TlsStream::Outcome::Refused);
    EXPECT_EQ(opened.stream, nullptr);
    EXPECT_EQ(opened.reason, c.reason);
}

INSTANTIATE_TEST_SUITE_P(Peers, TlsRefusalTest,
                         ::testing::ValuesIn(testing_support::CertificateRefusals()),
                         [](const auto& info) { return std::string(info.param.what); });

TEST_F(TlsStreamTest, AddressCheckedAgainstTheCertificatesAddresses) {
    TlsLoopbackServer server(authority.Issue({.dnsNames = {"localhost"}, .ipAddresses = {}}));
    const auto opened = Handshake(server.Port(), "127.0.0.1");
    EXPECT_EQ(opened.outcome, TlsStream::Outcome::Refused);
    EXPECT_EQ(opened.reason, "IP address mismatch");
}

TEST_F(TlsStreamTest, SystemTrustDoesNotKnowAPrivateAuthority) {
    TlsLoopbackServer server(authority.Issue());
    auto lower = ConnectLoopback(server.Port());
    const auto opened = TlsStream::Open(lower, "localhost", "", In(5s));
    EXPECT_EQ(opened.outcome, TlsStream::Outcome::Refused);
    EXPECT_EQ(opened.reason, "unable to get local issuer certificate");
}

TEST_F(TlsStreamTest, MissingAuthorityFileIsARefusalNamingTheFile) {
    TlsLoopbackServer server(authority.Issue());
    auto lower = ConnectLoopback(server.Port());
    const std::string missing = folder / "missing.pem";
    const auto opened = TlsStream::Open(lower, "localhost", missing, In(5s));
    EXPECT_EQ(opened.outcome, TlsStream::Outcome::Refused);
    EXPECT_EQ(opened.reason, "cannot read the authority file " + missing);
}

TEST_F(TlsStreamTest, PeerThatNeverAnswersTimesOutAndIsNoRefusal) {
    RawAnswerPeer silent(std::nullopt);
    const auto started = std::chrono::steady_clock::now();
    const auto opened = Handshake(silent.Port(), "localhost", 300ms);
    EXPECT_EQ(opened.outcome, TlsStream::Outcome::TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

struct Hostile {
    const char* what;
    std::string answer;
    const char* reason;
};

class TlsHostilePeerTest : public TlsStreamTest, public ::testing::WithParamInterface<Hostile> {};

TEST_P(TlsHostilePeerTest, GarbageInsteadOfAServerHelloIsRefused) {
    RawAnswerPeer peer(GetParam().answer);
    const auto opened = Handshake(peer.Port(), "localhost");
    EXPECT_EQ(opened.outcome, TlsStream::Outcome::Refused);
    EXPECT_EQ(opened.reason, GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, TlsHostilePeerTest,
    ::testing::Values(Hostile{"PlainHttp", "HTTP/1.0 400 Bad Request\r\n\r\n",
                              "the server does not speak TLS"},
                      Hostile{"Zeros", std::string(64, '\0'), "the server does not speak TLS"},
                      // A handshake record header that promises more than a record may hold.
                      Hostile{"OversizedRecord", std::string("\x16\x03\x03\xff\xff", 5),
                              "the server does not speak TLS"},
                      // An alert record instead of a hello.
                      Hostile{"Alert", std::string("\x15\x03\x03\x00\x02\x02\x28", 7),
                              "sslv3 alert handshake failure"},
                      Hostile{"CutShort", std::string("\x16\x03\x03\x00\x40\x02", 6),
                              "the server closed the connection during the handshake"}),
    [](const auto& info) { return std::string(info.param.what); });

} // namespace
