#include "util/uSignature.h"

#include <algorithm>
#include <cstring>
#include <sodium.h>

namespace {

constexpr std::size_t HashSize = 64;

bool IsBase64Char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/' || c == '=';
}

// Strict decoding of one Base64 line: only the alphabet, the exact length wanted.
bool DecodeLine(std::string_view line, std::size_t wanted, std::vector<unsigned char>& out) {
    if (line.empty() || !std::all_of(line.begin(), line.end(), IsBase64Char)) {
        return false;
    }
    out.assign(wanted + 3, 0);
    std::size_t written = 0;
    if (sodium_base642bin(out.data(), out.size(), line.data(), line.size(), nullptr, &written,
                          nullptr, sodium_base64_VARIANT_ORIGINAL) != 0 ||
        written != wanted) {
        return false;
    }
    out.resize(written);
    return true;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    while (!lines.empty() && lines.back().empty()) {
        lines.pop_back();
    }
    return lines;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool EnsureSodium() {
    return sodium_init() >= 0;
}

} // namespace

std::string KeyIdText(const std::array<unsigned char, 8>& keyId) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    // Stored little-endian: printed from the last byte.
    for (std::size_t i = keyId.size(); i-- > 0;) {
        text += Digits[keyId[i] >> 4];
        text += Digits[keyId[i] & 0x0f];
    }
    return text;
}

std::optional<TUpdatePublicKey> ParseUpdatePublicKey(std::string_view text, std::string& reason) {
    std::vector<std::string_view> lines = SplitLines(text);
    if (lines.size() == 2 && StartsWith(lines[0], "untrusted comment:")) {
        lines.erase(lines.begin());
    }
    if (lines.size() != 1) {
        reason = "a public key is one Base64 line, optionally after a comment line";
        return std::nullopt;
    }
    std::vector<unsigned char> bytes;
    if (!DecodeLine(lines[0], 2 + 8 + 32, bytes)) {
        reason = "the public key is not Base64 of the right length";
        return std::nullopt;
    }
    if (bytes[0] != 'E' || bytes[1] != 'd') {
        reason = "the public key is not an Ed25519 key";
        return std::nullopt;
    }
    TUpdatePublicKey key;
    std::memcpy(key.KeyId.data(), bytes.data() + 2, key.KeyId.size());
    std::memcpy(key.Key.data(), bytes.data() + 10, key.Key.size());
    return key;
}

std::optional<TUpdateSignature> ParseUpdateSignature(std::string_view text, std::string& reason) {
    const std::vector<std::string_view> lines = SplitLines(text);
    if (lines.size() != 4) {
        reason = "a signature file has four lines";
        return std::nullopt;
    }
    if (!StartsWith(lines[0], "untrusted comment:")) {
        reason = "the first line is not an untrusted comment";
        return std::nullopt;
    }
    static constexpr std::string_view TrustedPrefix = "trusted comment: ";
    if (!StartsWith(lines[2], TrustedPrefix)) {
        reason = "the third line is not a trusted comment";
        return std::nullopt;
    }
    std::vector<unsigned char> bytes;
    if (!DecodeLine(lines[1], 2 + 8 + 64, bytes)) {
        reason = "the signature is not Base64 of the right length";
        return std::nullopt;
    }
    if (bytes[0] == 'E' && bytes[1] == 'd') {
        reason = "the signature is of the legacy form over the whole file; sign with the "
                 "prehashed form";
        return std::nullopt;
    }
    if (bytes[0] != 'E' || bytes[1] != 'D') {
        reason = "the signature algorithm is unknown";
        return std::nullopt;
    }
    TUpdateSignature signature;
    std::memcpy(signature.KeyId.data(), bytes.data() + 2, signature.KeyId.size());
    std::memcpy(signature.Signature.data(), bytes.data() + 10, signature.Signature.size());
    signature.TrustedComment = std::string(lines[2].substr(TrustedPrefix.size()));
    if (!DecodeLine(lines[3], 64, bytes)) {
        reason = "the global signature is not Base64 of the right length";
        return std::nullopt;
    }
    std::memcpy(signature.GlobalSignature.data(), bytes.data(), signature.GlobalSignature.size());
    return signature;
}

std::string SignedVersion(std::string_view trustedComment) {
    static constexpr std::string_view Key = "version=";
    std::size_t at = 0;
    while ((at = trustedComment.find(Key, at)) != std::string_view::npos) {
        if (at == 0 || trustedComment[at - 1] == ' ' || trustedComment[at - 1] == '\t') {
            const std::string_view rest = trustedComment.substr(at + Key.size());
            return std::string(rest.substr(0, rest.find_first_of(" \t")));
        }
        at += Key.size();
    }
    return {};
}

struct TSignatureVerifier::TState {
    crypto_generichash_state Hash;
};

TSignatureVerifier::TSignatureVerifier() : State(std::make_unique<TState>()) {
    EnsureSodium();
    crypto_generichash_init(&State->Hash, nullptr, 0, HashSize);
}

TSignatureVerifier::~TSignatureVerifier() = default;

void TSignatureVerifier::Update(const unsigned char* data, std::size_t size) {
    crypto_generichash_update(&State->Hash, data, size);
}

bool TSignatureVerifier::Finish(const TUpdateSignature& signature,
                                const std::vector<TUpdatePublicKey>& keys, std::string& reason) {
    unsigned char digest[HashSize];
    crypto_generichash_final(&State->Hash, digest, HashSize);
    const auto key = std::find_if(keys.begin(), keys.end(), [&](const TUpdatePublicKey& k) {
        return k.KeyId == signature.KeyId;
    });
    if (key == keys.end()) {
        reason = "signed by the unknown key " + KeyIdText(signature.KeyId);
        return false;
    }
    if (crypto_sign_verify_detached(signature.Signature.data(), digest, HashSize,
                                    key->Key.data()) != 0) {
        reason = "the signature does not match the package";
        return false;
    }
    std::vector<unsigned char> global(signature.Signature.begin(), signature.Signature.end());
    global.insert(global.end(), signature.TrustedComment.begin(), signature.TrustedComment.end());
    if (crypto_sign_verify_detached(signature.GlobalSignature.data(), global.data(), global.size(),
                                    key->Key.data()) != 0) {
        reason = "the trusted comment is not signed by the key";
        return false;
    }
    return true;
}
