#include "server/ServiceQuery.h"

#include <gtest/gtest.h>

namespace {

using server::ParseServiceQuery;

struct QueryCase {
    const char* name;
    std::string target;
    std::string action;
    std::vector<std::pair<std::string, std::string>> values;
};

class ValidQuery : public ::testing::TestWithParam<QueryCase> {};

TEST_P(ValidQuery, IsCutAtAmpersandsAndFirstEqualsWithoutDecoding) {
    const QueryCase& c = GetParam();
    const auto parsed = ParseServiceQuery(c.target);
    ASSERT_TRUE(parsed) << parsed.Failure().Message;
    EXPECT_EQ(parsed->Action, c.action);
    EXPECT_EQ(parsed->Values, c.values);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ValidQuery,
    ::testing::Values(
        QueryCase{"client request",
                  "/bin/corvale/cmd.php?action=getip&id=jdoe&pswd=ab+c/d==&host=PC&v=0.3.11.25",
                  "getip",
                  {{"id", "jdoe"}, {"pswd", "ab+c/d=="}, {"host", "PC"}, {"v", "0.3.11.25"}}},
        QueryCase{"percent and plus stay as they are",
                  "/x?action=setip&id=a%20b+c&host=%41",
                  "setip",
                  {{"id", "a%20b+c"}, {"host", "%41"}}},
        QueryCase{"empty values", "/x?action=getip&id=&pswd=", "getip", {{"id", ""}, {"pswd", ""}}},
        QueryCase{"key without equals", "/x?action=getip&flag", "getip", {{"flag", ""}}},
        QueryCase{"empty pairs are skipped", "/x?action=clver&&id=1&", "clver", {{"id", "1"}}},
        QueryCase{"empty action", "/x?action=", "", {}},
        QueryCase{"longest value",
                  "/x?action=getip&id=" + std::string(4096, 'v'),
                  "getip",
                  {{"id", std::string(4096, 'v')}}}),
    [](const auto& info) {
        std::string name = info.param.name;
        for (char& c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name;
    });

struct BadQueryCase {
    std::string target;
    std::string error;
};

class InvalidQuery : public ::testing::TestWithParam<BadQueryCase> {};

TEST_P(InvalidQuery, IsRefusedWithAReason) {
    const auto parsed = ParseServiceQuery(GetParam().target);
    ASSERT_FALSE(parsed);
    EXPECT_EQ(parsed.Failure().Kind, server::ErrorKind::Invalid);
    EXPECT_EQ(parsed.Failure().Message, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InvalidQuery,
    ::testing::Values(
        BadQueryCase{"/bin/corvale/cmd.php", "Missing action"},
        BadQueryCase{"/bin/corvale/cmd.php?", "Missing action"},
        BadQueryCase{"/x?id=1&action=getip", "Missing action"},
        BadQueryCase{"/x?&&", "Missing action"},
        BadQueryCase{"/x?action=getip&id=1&id=2", "Duplicate key: id"},
        BadQueryCase{"/x?action=getip&action=setip", "Duplicate key: action"},
        BadQueryCase{"/x?action=getip&id=" + std::string(4097, 'v'), "Value too long: id"},
        BadQueryCase{"/x?action=" + std::string(4097, 'v'), "Value too long: action"},
        BadQueryCase{"/x?action=getip&=1", "Malformed request"},
        BadQueryCase{"/x?action=getip&" + std::string(33, 'k') + "=1", "Malformed request"}));

TEST(ServiceQuery, FindTellsAnEmptyValueFromAMissingKey) {
    const auto parsed = ParseServiceQuery("/x?action=getip&id=");
    ASSERT_TRUE(parsed);
    ASSERT_TRUE(parsed->Find("id"));
    EXPECT_EQ(*parsed->Find("id"), "");
    EXPECT_FALSE(parsed->Find("pswd"));
    EXPECT_FALSE(parsed->Find("action")) << "the action is not among the values";
}

} // namespace
