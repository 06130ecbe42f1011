#include "util/Lib1.h"

#include <climits>
#include <gtest/gtest.h>
#include <string>

namespace {

struct SplitFirstCase {
    std::string text, separator, head, tail;
};

class SplitFirstTest : public ::testing::TestWithParam<SplitFirstCase> {};

TEST_P(SplitFirstTest, CutsAtFirstSeparator) {
    const auto& c = GetParam();
    std::string head = "stale", tail = "stale";
    SplitFirst(c.text, c.separator, head, tail);
    EXPECT_EQ(head, c.head);
    EXPECT_EQ(tail, c.tail);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitFirstTest,
    ::testing::Values(SplitFirstCase{"", " ", "", ""}, SplitFirstCase{"OK", " ", "OK", ""},
                      SplitFirstCase{" rest", " ", "", "rest"},
                      SplitFirstCase{"OK ", " ", "OK", ""},
                      SplitFirstCase{"OK 1.2.3.4 5.6.7.8", " ", "OK", "1.2.3.4 5.6.7.8"},
                      SplitFirstCase{"a\r\nb", "\r\n", "a", "b"},
                      SplitFirstCase{"a\r\nb\r\nc", "\r\n", "a", "b\r\nc"},
                      SplitFirstCase{"abc", "", "abc", ""},
                      SplitFirstCase{"0,200", ",", "0", "200"}));

TEST(SplitFirst, SameVariableAsTextAndTail) {
    std::string rest = "10,20,30";
    std::string head;
    SplitFirst(rest, ",", head, rest);
    EXPECT_EQ(head, "10");
    EXPECT_EQ(rest, "20,30");
    SplitFirst(rest, ",", rest, head);
    EXPECT_EQ(rest, "20");
    EXPECT_EQ(head, "30");
}

struct SplitToArrayCase {
    std::string text;
    std::size_t length;
    TArrayOfString expected;
};

class SplitToArrayTest : public ::testing::TestWithParam<SplitToArrayCase> {};

TEST_P(SplitToArrayTest, FillsAtMostLengthFields) {
    const auto& c = GetParam();
    TArrayOfString values(c.length, "keep");
    SplitToArray(c.text, "-", values);
    EXPECT_EQ(values, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, SplitToArrayTest,
                         ::testing::Values(SplitToArrayCase{"a-b-c", 3, {"a", "b", "c"}},
                                           SplitToArrayCase{"a-b", 3, {"a", "b", "keep"}},
                                           SplitToArrayCase{"a-b-c-d", 3, {"a", "b", "c"}},
                                           SplitToArrayCase{"", 3, {"keep", "keep", "keep"}},
                                           SplitToArrayCase{"a-b-", 3, {"a", "b", "keep"}},
                                           SplitToArrayCase{"a--b", 3, {"a", "", "b"}},
                                           SplitToArrayCase{"a-b", 0, {}}));

TEST(SplitToArray, TwoCharacterSeparatorIsCutAroundBothCharacters) {
    struct Case {
        std::string text;
        TArrayOfString expected;
    };
    for (const Case& c :
         {Case{"0\r\n3\r\n12", {"0", "3", "12"}}, Case{"a\r\n\r\nb", {"a", "", "b"}},
          Case{"\r\nx", {"", "x", "keep"}}, Case{"a\r\r\nb\n", {"a\r", "b\n", "keep"}},
          Case{"a\rb\nc", {"a\rb\nc", "keep", "keep"}}, Case{"a\r\nb\r\n", {"a", "b", "keep"}},
          Case{"a\r\nb\r\nc\r\nd", {"a", "b", "c"}}}) {
        TArrayOfString values(3, "keep");
        SplitToArray(c.text, "\r\n", values);
        EXPECT_EQ(values, c.expected);
    }
}

TEST(HasOnlyNumberChars, AcceptsDigitsCommaAndMinusOnly) {
    EXPECT_TRUE(HasOnlyNumberChars(""));
    EXPECT_TRUE(HasOnlyNumberChars("0123456789,-"));
    EXPECT_FALSE(HasOnlyNumberChars("12a"));
    EXPECT_FALSE(HasOnlyNumberChars("+5"));
    EXPECT_FALSE(HasOnlyNumberChars("1 2"));
    EXPECT_FALSE(HasOnlyNumberChars("1.5"));
}

struct IntCase {
    std::string text;
    std::int32_t value;
};

class StrToIntSafeValue : public ::testing::TestWithParam<IntCase> {};

TEST_P(StrToIntSafeValue, Converts) {
    EXPECT_EQ(StrToIntSafe(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Cases, StrToIntSafeValue,
                         ::testing::Values(IntCase{"", 0}, IntCase{"   ", 0}, IntCase{"abc", 0},
                                           IntCase{"12a", 0}, IntCase{"0x78", 0}, IntCase{"+5", 0},
                                           IntCase{"30", 30}, IntCase{" 42\r\n", 42},
                                           IntCase{"\t-5 ", -5}, IntCase{"007", 7},
                                           IntCase{"-0", 0}, IntCase{"2147483647", INT32_MAX},
                                           IntCase{"-2147483648", INT32_MIN}));

class StrToIntSafeError : public ::testing::TestWithParam<IntCase> {};

TEST_P(StrToIntSafeError, RaisesConversionErrorWithTrimmedText) {
    const std::string text = GetParam().text;
    try {
        StrToIntSafe(" " + text + "\n");
        FAIL() << "no error for " << text;
    } catch (const EConvertError& e) {
        EXPECT_EQ(std::string(e.what()), "'" + text + "' is not a valid integer value");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, StrToIntSafeError,
                         ::testing::Values(IntCase{"1,000", 0}, IntCase{"5-", 0}, IntCase{"--5", 0},
                                           IntCase{"-", 0}, IntCase{",", 0},
                                           IntCase{"2147483648", 0}, IntCase{"-2147483649", 0},
                                           IntCase{"99999999999999999999", 0}));

TEST(IfStr, ChoosesByFlag) {
    EXPECT_EQ(IfStr(true, "1", "0"), "1");
    EXPECT_EQ(IfStr(false, "1", "0"), "0");
}

TEST(StrNewCopy, EmptyTextGivesNone) {
    EXPECT_EQ(StrNewCopy(""), nullptr);
    EXPECT_EQ(StrFromCopy(nullptr), "");
}

TEST(StrNewCopy, CopiesTextWithTerminatingZero) {
    std::string source = "jdoe;12,40";
    const TStrCopy copy = StrNewCopy(source);
    source[0] = 'X'; // the copy is independent of its source
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy.get(), "jdoe;12,40");
    EXPECT_EQ(StrFromCopy(copy), "jdoe;12,40");
}

} // namespace
