#pragma once
// Detached Ed25519 signatures of update packages, in the two-line-pair signature file format
// an operator makes with the usual signing tool: an untrusted comment, the signature (algorithm,
// key ID, 64 bytes), the trusted comment and the global signature over signature + trusted
// comment. Only the prehashed form ("ED": the signature is over the BLAKE2b-512 of the file) is
// accepted, so a package is verified as it streams from disk. No system calls: the caller feeds
// the bytes.

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TUpdatePublicKey {
    std::array<unsigned char, 8> KeyId{};
    std::array<unsigned char, 32> Key{};
};

struct TUpdateSignature {
    std::array<unsigned char, 8> KeyId{};
    std::array<unsigned char, 64> Signature{};
    std::string TrustedComment;
    std::array<unsigned char, 64> GlobalSignature{};
};

// The key ID in 16 upper-case hex digits, most significant first (the signing tool's key-file
// comment leaves out leading zeros).
std::string KeyIdText(const std::array<unsigned char, 8>& keyId);

// Reads a public key: either the bare Base64 line or the whole key file (comment line + Base64
// line). Returns nullopt and sets `reason` when it is not an Ed25519 public key.
std::optional<TUpdatePublicKey> ParseUpdatePublicKey(std::string_view text, std::string& reason);

// Reads a signature file; nullopt with `reason` when it is malformed or of the legacy
// non-prehashed form.
std::optional<TUpdateSignature> ParseUpdateSignature(std::string_view text, std::string& reason);

// The "version=" value of a trusted comment ("corvale-update version=0.3.12.30"); empty when
// the comment names none.
std::string SignedVersion(std::string_view trustedComment);

// Hashes a package as it is fed and checks it at the end against the trusted keys.
class TSignatureVerifier {
public:
    TSignatureVerifier();
    ~TSignatureVerifier();
    TSignatureVerifier(const TSignatureVerifier&) = delete;
    TSignatureVerifier& operator=(const TSignatureVerifier&) = delete;

    void Update(const unsigned char* data, std::size_t size);
    // True when the signature is made by one of `keys`, covers the bytes fed and its trusted
    // comment is signed by the same key; else false with `reason`.
    bool Finish(const TUpdateSignature& signature, const std::vector<TUpdatePublicKey>& keys,
                std::string& reason);

private:
    struct TState;
    std::unique_ptr<TState> State;
};
