#include "core/uEndpoint.h"

#include <gtest/gtest.h>

namespace {

TEST(ParseServiceEndpoint, HostAndOptionalPort) {
    EXPECT_EQ(ParseServiceEndpoint("127.0.0.1"), (TServiceEndpoint{"127.0.0.1", 80}));
    EXPECT_EQ(ParseServiceEndpoint("127.0.0.1:8080"), (TServiceEndpoint{"127.0.0.1", 8080}));
    EXPECT_EQ(ParseServiceEndpoint("web1.example.net:65535"),
              (TServiceEndpoint{"web1.example.net", 65535}));
    for (const char* bad :
         {"", ":80", "host:", "host:0", "host:65536", "host:8x", "host:-1", "a b", "host/x",
          "h:1:2", "user@host", "https://", "https://:443", "ftp://host", "https:/host",
          "https://host//", "http://https://host", "https://host/path"}) {
        EXPECT_FALSE(ParseServiceEndpoint(bad).has_value()) << bad;
    }
}

TEST(ParseServiceEndpoint, SchemeSelectsPlainOrSecure) {
    struct Case {
        const char* text;
        TServiceEndpoint endpoint;
    };
    for (const Case& c : {
             Case{"http://127.0.0.1:8080", {"127.0.0.1", 8080, false}},
             Case{"HTTP://host.example/", {"host.example", 80, false}},
             Case{"https://host.example", {"host.example", 443, true}},
             Case{"HTTPS://host.example:8443/", {"host.example", 8443, true}},
             Case{"https://127.0.0.1:80", {"127.0.0.1", 80, true}},
         }) {
        EXPECT_EQ(ParseServiceEndpoint(c.text), c.endpoint) << c.text;
    }
}

class EndpointUrls : public ::testing::Test {
protected:
    void TearDown() override {
        SetServiceEndpoint({std::string(kDefaultServiceHost), kDefaultServicePort});
    }
};

TEST_F(EndpointUrls, ServiceUrlKeepsKeyOrderAndValuesUnencoded) {
    SetServiceEndpoint({"127.0.0.1", 8080});
    EXPECT_EQ(ServiceRequestUrl("setip", {{"id", "j doe"},
                                          {"pswd", "a+b/c=="},
                                          {"host", "PC&1"},
                                          {"ip", ""},
                                          {"v", "0.3.11.25"}}),
              "http://127.0.0.1/bin/corvale/cmd.php?action=setip&id=j doe&pswd=a+b/c==&host=PC&1"
              "&ip=&v=0.3.11.25");
    EXPECT_EQ(ServiceRequestUrl("clver"), "http://127.0.0.1/bin/corvale/cmd.php?action=clver");
}

TEST_F(EndpointUrls, WebPagesNameThePortOnlyWhenNotDefault) {
    SetServiceEndpoint({"127.0.0.1", 8080});
    EXPECT_EQ(WebPageUrl(kHomePagePath), "http://127.0.0.1:8080/tools/corvale/");
    SetServiceEndpoint({"service.example", 80});
    EXPECT_EQ(WebPageUrl(kSignupPagePath), "http://service.example/tools/corvale/signup.php");
}

TEST_F(EndpointUrls, SecureEndpointUsesHttpsEverywhere) {
    SetServiceEndpoint({"localhost", 443, true});
    EXPECT_EQ(ServiceRequestUrl("getip", {{"id", "joe"}}),
              "https://localhost/bin/corvale/cmd.php?action=getip&id=joe");
    EXPECT_EQ(WebPageUrl(kHomePagePath), "https://localhost/tools/corvale/");
    SetServiceEndpoint({"localhost", 80, true});
    EXPECT_EQ(WebPageUrl(kSignupPagePath), "https://localhost:80/tools/corvale/signup.php");
    SetServiceEndpoint({"localhost", 443, false});
    EXPECT_EQ(WebPageUrl(kHomePagePath), "http://localhost:443/tools/corvale/");
}

TEST_F(EndpointUrls, DefaultIsBuiltIn) {
    EXPECT_EQ(ServiceEndpoint().Host, kDefaultServiceHost);
    EXPECT_EQ(ServiceEndpoint().Port, 80);
}

} // namespace
