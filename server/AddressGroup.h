#pragma once
// What the per-address limits count a client by.

#include <string>

namespace server {

// An IPv4 address as it stands; an IPv6 address by its /64, the block one subscriber usually
// gets whole, so that a client cannot pass a limit by taking a new address from its own block
// for every connection or login attempt.
std::string AddressGroup(const std::string& address);

} // namespace server
