// Base64 decoding in portions equals decoding at once and a plain reading; encoding and the
// password scrambling come back to their input.

#include "tests/fuzz/FuzzCheck.h"
#include "util/uBase64.h"

#include <memory>

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Every alphabet character is six bits, everything else is skipped; whole groups of four give
// three bytes, a last group of three two bytes, of two one byte, of one nothing.
std::string PlainDecode(std::string_view text) {
    std::vector<unsigned> sextets;
    for (char c : text) {
        const auto at = kAlphabet.find(c);
        if (at != std::string_view::npos) {
            sextets.push_back(static_cast<unsigned>(at));
        }
    }
    std::string bytes;
    for (std::size_t i = 0; i < sextets.size(); i += 4) {
        const std::size_t n = std::min<std::size_t>(4, sextets.size() - i);
        unsigned bits = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            bits = (bits << 6) | (k < n ? sextets[i + k] : 0);
        }
        const std::size_t produced = n == 4 ? 3 : n - 1; // 1 char gives nothing
        for (std::size_t k = 0; k < produced; ++k) {
            bytes += static_cast<char>((bits >> (16 - 8 * k)) & 0xFF);
        }
    }
    return bytes;
}

// Decodes `text` in portions whose lengths come from `seed`, each into an area of exactly
// DecodedCapacity(portion) bytes, so that writing past it is caught.
std::string DecodeInPortions(std::string_view text, std::uint8_t seed) {
    std::string bytes;
    TBase64DecodeState state;
    unsigned random = seed;
    std::size_t at = 0;
    while (at < text.size()) {
        random = random * 1103515245u + 12345u;
        const std::size_t length = std::min<std::size_t>((random >> 16) % 10, text.size() - at);
        const std::size_t capacity = DecodedCapacity(length);
        auto area = std::make_unique<unsigned char[]>(capacity);
        const std::size_t written = DecodeBytes(text.data() + at, length, area.get(), state);
        FUZZ_CHECK(written <= capacity && written % 3 == 0);
        bytes.append(reinterpret_cast<const char*>(area.get()), written);
        at += length;
    }
    auto rest = std::make_unique<unsigned char[]>(2);
    const std::size_t flushed = DecodeFlush(rest.get(), state);
    FUZZ_CHECK(flushed <= 2);
    bytes.append(reinterpret_cast<const char*>(rest.get()), flushed);
    return bytes;
}

bool IsStoredForm(const std::string& text) {
    const auto pad = text.find('=');
    const std::string_view body = std::string_view(text).substr(0, pad);
    if (body.find_first_not_of(kAlphabet) != std::string_view::npos) {
        return false;
    }
    return pad == std::string::npos ||
           (text.size() - pad <= 2 && text.find_first_not_of('=', pad) == std::string::npos);
}

} // namespace

// The input: one byte that chooses the portions, then the text (also used as bytes to encode
// and as a password to scramble).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string text = testing_support::Text(data + 1, size - 1);

    const std::string atOnce = Base64Decode(text);
    FUZZ_CHECK(atOnce == PlainDecode(text));
    FUZZ_CHECK(DecodeInPortions(text, data[0]) == atOnce);

    const std::string encoded = Base64Encode(text);
    FUZZ_CHECK(encoded.size() == EncodedLength(text.size()));
    FUZZ_CHECK(IsStoredForm(encoded));
    FUZZ_CHECK(Base64Decode(encoded) == text);

    const std::string stored = ScramblePassword(text);
    std::size_t length = text.size();
    for (int pass = 0; pass < 5; ++pass) {
        length = EncodedLength(length);
    }
    FUZZ_CHECK(stored.size() == length);
    FUZZ_CHECK(IsStoredForm(stored));
    FUZZ_CHECK(UnscramblePassword(stored) == text);
    // A value typed into the settings file by hand: each pass can only shorten it.
    FUZZ_CHECK(UnscramblePassword(text).size() <= text.size());
    return 0;
}
