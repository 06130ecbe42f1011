#pragma once
// Moving everything the service keeps from one database to another, SQLite or PostgreSQL in
// either direction: accounts (with their password hashes and numbers), hosts, offers and the
// update offer, in one transaction of the target, which must hold nothing yet. Each table's
// row count in the target is checked against the source's before the commit.

#include "server/PasswordHash.h"
#include "server/Result.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace server {

// Each table's name and the rows copied, in the order copied.
using CopyCounts = std::vector<std::pair<std::string, std::int64_t>>;

// `from` and `to` as --db takes them. Invalid when the target holds anything already or is
// the source; Unavailable when a database fails (the target then holds nothing new).
Result<CopyCounts> CopyDatabase(const std::string& from, const std::string& to,
                                HashCost cost = InteractiveCost());

} // namespace server
