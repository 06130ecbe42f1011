#pragma once
// What a service request carries, read and checked once for every path that replies to it: the
// full path on a worker and the quick one on the connection's thread give the same refusals
// because they read the request with the same functions.

#include "server/Result.h"
#include "server/ServiceQuery.h"

#include <optional>
#include <string>
#include <string_view>

namespace server {

// The refusal of a login that is missing, malformed or wrong: never says which.
inline constexpr std::string_view kInvalidLogin = "Invalid ID or password";

// The query of a service request whose names (user IDs and host name) are clean text; a
// refusal otherwise. Names are stored, compared and sent back in replies labelled UTF-8, so
// bytes that are no text at all, or control characters, are refused before anything looks
// them up.
Result<ServiceQuery> ReadServiceRequest(std::string_view rawTarget);

// The login a request offers: a user ID that could exist, and the password as sent.
struct OfferedLogin {
    std::string_view UserId;
    std::string_view Password;
};
// None when the user ID or the password is missing, or the user ID is malformed: such a login
// is refused without a look at the accounts.
std::optional<OfferedLogin> ReadLogin(const ServiceQuery& query);

// What an address report says of a host; views into the query it was read from.
struct ReportInput {
    std::string_view Host;
    std::string_view Address;  // empty: the client has no address to report
    std::string ClientVersion; // as the client sent it when well-formed, else empty
};

// The host, address and client version of a report ("setip"), checked in that order; the
// refusal, for the failure reply, when one of them is missing or malformed.
Result<ReportInput> ReadAddressReport(const ServiceQuery& query);

} // namespace server
