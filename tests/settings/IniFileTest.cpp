#include "settings/uIniFile.h"
#include "settings/uWidthList.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace {

struct IntegerCase {
    std::string text;
    std::optional<std::int32_t> value;
};

class IniInteger : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(IniInteger, ParsesDecimalAndPrefixedHex) {
    EXPECT_EQ(ParseIniInteger(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniInteger,
    ::testing::Values(IntegerCase{"0", 0}, IntegerCase{"900", 900}, IntegerCase{"-5", -5},
                      IntegerCase{"+60", 60}, IntegerCase{"007", 7},
                      IntegerCase{"2147483647", 2147483647}, IntegerCase{"-2147483648", INT32_MIN},
                      IntegerCase{"2147483648", std::nullopt}, IntegerCase{"0x78", 120},
                      IntegerCase{"0Xff", 255}, IntegerCase{"0x7FFFFFFF", 2147483647},
                      IntegerCase{"0xFFFFFFFF", -1}, IntegerCase{"0x100000000", std::nullopt},
                      IntegerCase{"0x", std::nullopt}, IntegerCase{"0x-1", std::nullopt},
                      IntegerCase{"0xg", std::nullopt}, IntegerCase{"x78", std::nullopt},
                      IntegerCase{"", std::nullopt}, IntegerCase{"-", std::nullopt},
                      IntegerCase{"+-1", std::nullopt}, IntegerCase{"1,000", std::nullopt},
                      IntegerCase{"12a", std::nullopt}, IntegerCase{"1 2", std::nullopt}));

TEST(WidthList, FormatsWithoutTrailingSeparator) {
    EXPECT_EQ(FormatWidthList({32, 100, 140}), "32,100,140");
    EXPECT_EQ(FormatWidthList({7}), "7");
    EXPECT_EQ(FormatWidthList({}), "");
}

TEST(WidthList, DesignedWidthsOfBothLists) {
    EXPECT_EQ(FormatWidthList(DesignedListWidths().IP), "32,100,140");
    EXPECT_EQ(FormatWidthList(DesignedListWidths().Buddies), "32,95,130,95,140");
}

} // namespace
