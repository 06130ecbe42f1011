#include "util/uBase64.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr unsigned char kSkip = 255;

constexpr std::array<unsigned char, 256> MakeDecodingTable() {
    std::array<unsigned char, 256> table{};
    table.fill(kSkip);
    for (std::size_t i = 0; i < kAlphabet.size(); ++i) {
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
    }
    return table;
}
constexpr auto kDecodingTable = MakeDecodingTable();

// Odd positions (1st, 3rd, ... counting from 1) move by `step`, even ones by -step, mod 256.
void ShiftBytes(std::string& bytes, int step) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int delta = (i % 2 == 0) ? step : -step;
        bytes[i] = static_cast<char>(static_cast<unsigned char>(bytes[i]) + delta);
    }
}

constexpr int kScramblePasses = 5;

} // namespace

void EncodeBytes(const unsigned char* input, std::size_t count, char* output) {
    std::size_t i = 0;
    for (; i + 3 <= count; i += 3) {
        const unsigned b0 = input[i], b1 = input[i + 1], b2 = input[i + 2];
        *output++ = kAlphabet[b0 >> 2];
        *output++ = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        *output++ = kAlphabet[((b1 & 15) << 2) | (b2 >> 6)];
        *output++ = kAlphabet[b2 & 63];
    }
    const std::size_t rest = count - i;
    if (rest == 1) {
        const unsigned b0 = input[i];
        *output++ = kAlphabet[b0 >> 2];
        *output++ = kAlphabet[(b0 & 3) << 4];
        *output++ = '=';
        *output++ = '=';
    } else if (rest == 2) {
        const unsigned b0 = input[i], b1 = input[i + 1];
        *output++ = kAlphabet[b0 >> 2];
        *output++ = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        *output++ = kAlphabet[(b1 & 15) << 2];
        *output++ = '=';
    }
}

std::size_t DecodeBytes(const char* input, std::size_t count, unsigned char* output,
                        TBase64DecodeState& state) {
    std::size_t written = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char value = kDecodingTable[static_cast<unsigned char>(input[i])];
        if (value == kSkip) {
            continue;
        }
        state.Accumulator = (state.Accumulator << 6) | value;
        if (--state.Needed == 0) {
            output[written++] = static_cast<unsigned char>(state.Accumulator >> 16);
            output[written++] = static_cast<unsigned char>(state.Accumulator >> 8);
            output[written++] = static_cast<unsigned char>(state.Accumulator);
            state.Accumulator = 0;
            state.Needed = 4;
        }
    }
    return written;
}

std::size_t DecodeFlush(unsigned char* output, const TBase64DecodeState& state) {
    switch (state.Needed) {
    case 1: // three characters: 18 bits
        output[0] = static_cast<unsigned char>(state.Accumulator >> 10);
        output[1] = static_cast<unsigned char>(state.Accumulator >> 2);
        return 2;
    case 2: // two characters: 12 bits
        output[0] = static_cast<unsigned char>(state.Accumulator >> 4);
        return 1;
    default:
        return 0;
    }
}

std::string Base64Encode(std::string_view bytes) {
    std::string out(EncodedLength(bytes.size()), '\0');
    EncodeBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out.data());
    return out;
}

std::string Base64Decode(std::string_view text) {
    std::string out(DecodedCapacity(text.size()), '\0');
    auto* area = reinterpret_cast<unsigned char*>(out.data());
    TBase64DecodeState state;
    std::size_t written = DecodeBytes(text.data(), text.size(), area, state);
    written += DecodeFlush(area + written, state);
    out.resize(written);
    return out;
}

std::string ScramblePassword(std::string_view password) {
    std::string text(password);
    for (int pass = 0; pass < kScramblePasses; ++pass) {
        ShiftBytes(text, +1);
        std::reverse(text.begin(), text.end());
        text = Base64Encode(text);
    }
    return text;
}

std::string UnscramblePassword(std::string_view stored) {
    std::string text(stored);
    for (int pass = 0; pass < kScramblePasses; ++pass) {
        text = Base64Decode(text);
        std::reverse(text.begin(), text.end());
        ShiftBytes(text, -1);
    }
    return text;
}
