#pragma once
// The query of a service request, read from the raw request target. The client inserts its
// values unencoded (a stored password holds "+", "/" and "="), so the query is cut at "&" and
// each pair at its first "=", and nothing is percent- or plus-decoded.

#include "server/Result.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace server {

inline constexpr std::size_t kMaxQueryValueLength = 4096;
inline constexpr std::size_t kMaxQueryKeyLength = 32;

struct ServiceQuery {
    std::string Action;
    std::vector<std::pair<std::string, std::string>> Values; // after "action", in order

    // The value of `key`, or none when the query does not carry it.
    std::optional<std::string_view> Find(std::string_view key) const;
};

// `rawTarget` is the request target as it came, e.g. "/bin/corvale/cmd.php?action=getip&id=x".
// "action" must be the first key; keys may appear once each. A refusal's message is the short
// text of the failure reply.
Result<ServiceQuery> ParseServiceQuery(std::string_view rawTarget);

} // namespace server
