#pragma once
// Passwords at rest: a salted, memory-hard hash (Argon2id) of the form the client sends, so
// that a copied database does not give the passwords away.

#include <cstddef>
#include <string>
#include <string_view>

namespace server {

struct HashCost {
    unsigned long long Passes = 0;
    std::size_t MemoryBytes = 0;
};

// The library's limits for interactive logins: what every account gets.
HashCost InteractiveCost();
// The least the algorithm allows; for tests that create many accounts, never for service.
HashCost LowestCostForTests();

// The self-describing hash text (algorithm, limits, salt, digest). Throws std::bad_alloc
// when the memory the cost asks for cannot be had.
std::string HashPassword(std::string_view password, HashCost cost);
// True when `password` is the one `hash` was made from.
bool VerifyPassword(const std::string& hash, std::string_view password);
// True for text made by HashPassword, false for a password kept as it came.
bool IsPasswordHash(std::string_view text);

} // namespace server
