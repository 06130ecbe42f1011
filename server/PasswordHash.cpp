#include "server/PasswordHash.h"

#include <new>
#include <sodium.h>
#include <stdexcept>

namespace server {

namespace {

void EnsureSodium() {
    static const bool ready = sodium_init() >= 0;
    if (!ready) {
        throw std::runtime_error("the cryptography library could not start");
    }
}

} // namespace

HashCost InteractiveCost() {
    return {crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE};
}

HashCost LowestCostForTests() {
    return {crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN};
}

std::string HashPassword(std::string_view password, HashCost cost) {
    EnsureSodium();
    char text[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(text, password.data(), password.size(), cost.Passes, cost.MemoryBytes,
                              crypto_pwhash_ALG_ARGON2ID13) != 0) {
        throw std::bad_alloc();
    }
    return text;
}

bool VerifyPassword(const std::string& hash, std::string_view password) {
    EnsureSodium();
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

bool IsPasswordHash(std::string_view text) {
    return text.substr(0, 10) == "$argon2id$";
}

} // namespace server
