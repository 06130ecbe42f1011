#include "core/uEndpoint.h"

#include <gtest/gtest.h>

namespace {

TEST(ParseServiceEndpoint, HostAndOptionalPort) {
    EXPECT_EQ(ParseServiceEndpoint("127.0.0.1"), (TServiceEndpoint{"127.0.0.1", 80}));
    EXPECT_EQ(ParseServiceEndpoint("127.0.0.1:8080"), (TServiceEndpoint{"127.0.0.1", 8080}));
    EXPECT_EQ(ParseServiceEndpoint("web1.example.net:65535"),
              (TServiceEndpoint{"web1.example.net", 65535}));
    for (const char* bad : {"", ":80", "host:", "host:0", "host:65536", "host:8x", "host:-1", "a b",
                            "host/x", "h:1:2", "user@host"}) {
        EXPECT_FALSE(ParseServiceEndpoint(bad).has_value()) << bad;
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

TEST_F(EndpointUrls, DefaultIsBuiltIn) {
    EXPECT_EQ(ServiceEndpoint().Host, kDefaultServiceHost);
    EXPECT_EQ(ServiceEndpoint().Port, 80);
}

} // namespace
