#pragma once
// Base64 with the standard alphabet, and the password scrambling built on it: the account
// password is only ever kept and sent in its scrambled ("stored") form.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Carried between portions of input: the bits gathered so far and the characters still
// needed to complete the current group of four (4 at the start).
struct TBase64DecodeState {
    std::uint32_t Accumulator = 0;
    int Needed = 4;
};

constexpr std::size_t EncodedLength(std::size_t byteCount) {
    return (byteCount + 2) / 3 * 4;
}
constexpr std::size_t DecodedCapacity(std::size_t charCount) {
    return (charCount + 3) / 4 * 3;
}

// Writes EncodedLength(count) characters to `output`, padded with "=", no line breaks.
void EncodeBytes(const unsigned char* input, std::size_t count, char* output);
// Decodes `count` characters, skipping everything outside the alphabet; returns bytes written.
std::size_t DecodeBytes(const char* input, std::size_t count, unsigned char* output,
                        TBase64DecodeState& state);
// Writes the bytes of an incomplete last group (0, 1 or 2) and returns their number.
std::size_t DecodeFlush(unsigned char* output, const TBase64DecodeState& state);

std::string Base64Encode(std::string_view bytes);
std::string Base64Decode(std::string_view text);

std::string ScramblePassword(std::string_view password);
std::string UnscramblePassword(std::string_view stored);
