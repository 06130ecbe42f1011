#include "server/ServiceInput.h"

#include "server/Validation.h"
#include "server/Version.h"

#include <utility>

namespace server {

namespace {

std::string ClientVersionOf(const ServiceQuery& query) {
    const auto v = query.Find("v");
    return v && ParseVersion(*v) ? std::string(*v) : std::string();
}

} // namespace

Result<ServiceQuery> ReadServiceRequest(std::string_view rawTarget) {
    Result<ServiceQuery> query = ParseServiceQuery(rawTarget);
    if (!query) {
        return query;
    }
    static constexpr std::pair<std::string_view, std::string_view> kNames[] = {
        {"id", kInvalidLogin}, {"host", "Invalid host name"}, {"invid", "Invalid user ID"}};
    for (const auto& [key, refusal] : kNames) {
        const auto value = query->Find(key);
        if (value && !IsCleanText(*value)) {
            return Refusal(std::string(refusal));
        }
    }
    return query;
}

std::optional<OfferedLogin> ReadLogin(const ServiceQuery& query) {
    const auto id = query.Find("id");
    const auto password = query.Find("pswd");
    if (!id || !password || !IsValidUserId(*id)) {
        return std::nullopt;
    }
    return OfferedLogin{*id, *password};
}

Result<ReportInput> ReadAddressReport(const ServiceQuery& query) {
    const auto host = query.Find("host");
    if (!host || !IsValidHostName(*host)) {
        return Refusal("Invalid host name");
    }
    const auto address = query.Find("ip");
    if (!address) {
        return Refusal("Missing key: ip");
    }
    if (!IsValidAddressReport(*address)) {
        return Refusal("Invalid address");
    }
    return ReportInput{*host, *address, ClientVersionOf(query)};
}

} // namespace server
