// The reference service over HTTPS, beside its plain listener, driven by the client's own
// service call with a certificate from an authority made by the test.

#include "core/Net.h"
#include "core/uTools.h"
#include "server/CommandLine.h"
#include "tests/server/RunningServer.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestCertificates.h"
#include "util/uBase64.h"

#include <gtest/gtest.h>

namespace {

using testing_support::RunningServer;
using testing_support::TestAuthority;

class SecureServiceTest : public ::testing::Test {
protected:
    SecureServiceTest() {
        testing_support::WriteFile(authorityFile_, authority_.CertificatePem());
        server_.AddAccount("jdoe", "secret");
    }
    ~SecureServiceTest() override {
        SetServiceEndpoint({std::string(kDefaultServiceHost), kDefaultServicePort});
    }
    static testing_support::ServerSetup WithCertificate(const testing_support::PemPair& identity) {
        auto setup = RunningServer::DefaultSetup();
        setup.TlsCertificate = identity.certificate;
        setup.TlsKey = identity.key;
        return setup;
    }
    std::string GetIp() {
        return ServiceCall(ServiceRequestUrl("getip", {{"id", "jdoe"},
                                                       {"pswd", ScramblePassword("secret")},
                                                       {"host", "OFFICE-PC"},
                                                       {"v", "0.3.11.25"}}));
    }

    testing_support::TempFolder folder_;
    TestAuthority authority_;
    std::string authorityFile_ = folder_ / "authority.pem";
    RunningServer server_{WithCertificate(authority_.Issue())};
};

TEST_F(SecureServiceTest, GetipAndSetipOverHttpsBesideThePlainListener) {
    SetServiceEndpoint({"localhost", server_.SecurePort(), true, authorityFile_});
    EXPECT_EQ(ServiceCall(ServiceRequestUrl("setip", {{"id", "jdoe"},
                                                      {"pswd", ScramblePassword("secret")},
                                                      {"host", "OFFICE-PC"},
                                                      {"ip", "127.0.0.1"},
                                                      {"v", "0.3.11.25"}}))
                  .rfind("OK", 0),
              0u);
    EXPECT_EQ(GetIp(), "OK 127.0.0.1 127.0.0.1");

    SetServiceEndpoint({"127.0.0.1", server_.Port()});
    EXPECT_EQ(GetIp(), "OK 127.0.0.1 127.0.0.1") << "the plain listener serves the same service";
}

TEST_F(SecureServiceTest, PlainRequestToTheHttpsSocketGetsNoServiceReply) {
    SetServiceEndpoint({"127.0.0.1", server_.SecurePort()});
    EXPECT_EQ(GetIp().rfind("OK", 0), std::string::npos);
}

TEST(SecureServiceCertificate, UnusableCertificateOrKeyIsRefusedWithAReason) {
    TestAuthority authority;
    const auto one = authority.Issue();
    const auto other = authority.Issue();
    struct Case {
        std::string certificate, key, error;
    };
    for (const Case& c :
         {Case{"not a certificate", one.key, "the certificate file holds no usable certificate"},
          Case{one.certificate, "not a key", "the key file holds no usable private key"},
          Case{one.certificate, other.key, "the key does not belong to the certificate"}}) {
        auto setup = RunningServer::DefaultSetup();
        setup.TlsCertificate = c.certificate;
        setup.TlsKey = c.key;
        try {
            RunningServer server(setup);
            ADD_FAILURE() << "served with " << c.error;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(c.error), std::string::npos) << error.what();
        }
    }
}

TEST(SecureServiceCommandLine, ListenTwiceNeedsACertificate) {
    const auto parse = [](std::vector<std::string> args) { return server::ParseCommandLine(args); };
    const auto both = parse({"--listen", "127.0.0.1:8080", "--listen", "0.0.0.0:8443", "--tls-cert",
                             "c.pem", "--tls-key", "k.pem"});
    ASSERT_TRUE(both) << both.Failure().Message;
    EXPECT_EQ(both->Listen.Port, 8080);
    ASSERT_TRUE(both->SecondListen);
    EXPECT_EQ(both->SecondListen->Host, "0.0.0.0");
    EXPECT_EQ(both->SecondListen->Port, 8443);
    EXPECT_EQ(both->TlsKeyFile, "k.pem");

    EXPECT_FALSE(parse({"--listen", "127.0.0.1:1", "--listen", "127.0.0.1:2"}));
    EXPECT_FALSE(parse({"--tls-cert", "c.pem"}));
    EXPECT_FALSE(parse({"--tls-key", "k.pem"}));
    EXPECT_FALSE(parse({"--listen", "a:1", "--listen", "b:2", "--listen", "c:3", "--tls-cert", "c",
                        "--tls-key", "k"}));
    const auto one = parse({"--tls-cert=c.pem", "--tls-key=k.pem"});
    ASSERT_TRUE(one) << one.Failure().Message;
    EXPECT_FALSE(one->SecondListen);
}

} // namespace
