#include "server/ServiceQuery.h"

namespace server {

std::optional<std::string_view> ServiceQuery::Find(std::string_view key) const {
    for (const auto& [name, value] : Values) {
        if (name == key) {
            return value;
        }
    }
    return std::nullopt;
}

Result<ServiceQuery> ParseServiceQuery(std::string_view rawTarget) {
    const auto question = rawTarget.find('?');
    if (question == std::string_view::npos) {
        return Refusal("Missing action");
    }
    std::string_view rest = rawTarget.substr(question + 1);
    ServiceQuery query;
    bool first = true;
    while (!rest.empty()) {
        const auto amp = rest.find('&');
        const std::string_view pair = rest.substr(0, amp);
        rest.remove_prefix(amp == std::string_view::npos ? rest.size() : amp + 1);
        if (pair.empty()) {
            continue; // "&&" or a trailing "&" carries nothing
        }
        const auto equals = pair.find('=');
        const std::string_view key = pair.substr(0, equals);
        const std::string_view value =
            equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
        if (key.empty() || key.size() > kMaxQueryKeyLength) {
            return Refusal("Malformed request");
        }
        if (value.size() > kMaxQueryValueLength) {
            return Refusal("Value too long: " + std::string(key));
        }
        if (first) {
            if (key != "action") {
                return Refusal("Missing action");
            }
            query.Action = value;
            first = false;
            continue;
        }
        if (key == "action" || query.Find(key)) {
            return Refusal("Duplicate key: " + std::string(key));
        }
        query.Values.emplace_back(key, value);
    }
    if (first) {
        return Refusal("Missing action");
    }
    return query;
}

} // namespace server
