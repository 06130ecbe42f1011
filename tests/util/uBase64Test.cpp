#include "util/uBase64.h"

#include <gtest/gtest.h>
#include <string>

namespace {

struct CodecCase {
    std::string bytes, encoded;
};

class Base64KnownAnswer : public ::testing::TestWithParam<CodecCase> {};

TEST_P(Base64KnownAnswer, EncodesAndDecodes) {
    EXPECT_EQ(Base64Encode(GetParam().bytes), GetParam().encoded);
    EXPECT_EQ(Base64Decode(GetParam().encoded), GetParam().bytes);
}

// RFC 4648 test vectors, plus bytes outside ASCII.
INSTANTIATE_TEST_SUITE_P(Rfc4648, Base64KnownAnswer,
                         ::testing::Values(CodecCase{"", ""}, CodecCase{"f", "Zg=="},
                                           CodecCase{"fo", "Zm8="}, CodecCase{"foo", "Zm9v"},
                                           CodecCase{"foob", "Zm9vYg=="},
                                           CodecCase{"fooba", "Zm9vYmE="},
                                           CodecCase{"foobar", "Zm9vYmFy"},
                                           CodecCase{std::string("\xff\x00\xfe", 3), "/wD+"}));

TEST(Base64, LengthsFollowTheFormulas) {
    for (std::size_t n = 0; n < 100; ++n) {
        EXPECT_EQ(EncodedLength(n), (n + 2) / 3 * 4);
        EXPECT_EQ(Base64Encode(std::string(n, 'x')).size(), EncodedLength(n));
        EXPECT_GE(DecodedCapacity(EncodedLength(n)), n);
    }
    EXPECT_EQ(DecodedCapacity(0), 0u);
    EXPECT_EQ(DecodedCapacity(1), 3u);
    EXPECT_EQ(DecodedCapacity(4), 3u);
    EXPECT_EQ(DecodedCapacity(5), 6u);
}

TEST(Base64, NeverInsertsLineBreaks) {
    const std::string encoded = Base64Encode(std::string(1000, '\x5a'));
    EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos);
}

struct LenientCase {
    std::string text, bytes;
};

class Base64LenientDecode : public ::testing::TestWithParam<LenientCase> {};

TEST_P(Base64LenientDecode, SkipsOutsideCharactersAndFlushes) {
    EXPECT_EQ(Base64Decode(GetParam().text), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Cases, Base64LenientDecode,
                         ::testing::Values(LenientCase{"Zm9v\r\nYmFy", "foobar"},
                                           LenientCase{"Zm 9v Ym Fy", "foobar"},
                                           LenientCase{"Z=m=9=v", "foo"},
                                           LenientCase{"Zg", "f"},      // two characters
                                           LenientCase{"Zm8", "fo"},    // three characters
                                           LenientCase{"Zm9vY", "foo"}, // a lone trailing one
                                           LenientCase{"====", ""}, LenientCase{"!*?", ""}));

TEST(Base64, DecodingInPortionsCarriesTheState) {
    const std::string text = "Zm9vYmFyYmF6";
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        unsigned char out[16] = {};
        TBase64DecodeState state;
        std::size_t n = DecodeBytes(text.data(), cut, out, state);
        n += DecodeBytes(text.data() + cut, text.size() - cut, out + n, state);
        n += DecodeFlush(out + n, state);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), n), "foobarbaz") << "cut " << cut;
    }
}

TEST(Base64, RoundTripsEveryByteValueAtManyLengths) {
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    for (std::size_t n = 0; n <= all.size(); ++n) {
        const std::string part = all.substr(all.size() - n); // ends at byte 255
        ASSERT_EQ(Base64Decode(Base64Encode(part)), part) << n;
        ASSERT_EQ(UnscramblePassword(ScramblePassword(part)), part) << n;
    }
}

TEST(ScramblePassword, WorkedExample) {
    EXPECT_EQ(ScramblePassword("abc"), "UU9qT3doRVNhdTFWRnFEUQ==");
    EXPECT_EQ(UnscramblePassword("UU9qT3doRVNhdTFWRnFEUQ=="), "abc");
}

TEST(ScramblePassword, EmptyStaysEmpty) {
    EXPECT_EQ(ScramblePassword(""), "");
    EXPECT_EQ(UnscramblePassword(""), "");
}

TEST(ScramblePassword, StoredFormLengths) {
    const std::pair<std::size_t, std::size_t> table[] = {
        {1, 24},  {3, 24},  {4, 32},  {6, 32},  {7, 44},  {9, 44},   {10, 60},
        {12, 60}, {13, 76}, {15, 76}, {16, 80}, {18, 80}, {19, 104}, {21, 104}};
    for (const auto& [typed, stored] : table) {
        const std::string result = ScramblePassword(std::string(typed, '\xff'));
        EXPECT_EQ(result.size(), stored) << typed << " bytes";
        EXPECT_EQ(result.find_first_not_of(
                      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
                  std::string::npos);
    }
}

TEST(UnscramblePassword, HandTypedValueGivesItsKnownBytes) {
    // Not stored forms: the characters outside the alphabet are skipped and each pass decodes
    // what is left, so they give these bytes (worked out by hand from the five passes).
    struct Case {
        std::string typed;
        std::string bytes;
    };
    for (const Case& c :
         {Case{"secret", ""}, Case{"!!", ""}, Case{"c2VjcmV0", ""},
          // the abc example after four of its five passes
          Case{"PEpGU2tbRFgxNkNR", "\xB6\x6A"}, Case{"PEpG U2tb\r\nRFgx=NkNR", "\xB6\x6A"}}) {
        EXPECT_EQ(UnscramblePassword(c.typed), c.bytes) << c.typed;
    }
}

} // namespace
