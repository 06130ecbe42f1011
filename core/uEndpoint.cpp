#include "core/uEndpoint.h"

#include "util/AsciiCase.h"

#include <charconv>
#include <mutex>

namespace {

std::mutex endpointMutex;
TServiceEndpoint currentEndpoint = DefaultServiceEndpoint();

bool IsValidHost(std::string_view host) {
    if (host.empty()) {
        return false;
    }
    for (char c : host) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        if (!ok) {
            return false;
        }
    }
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

} // namespace

std::optional<TServiceEndpoint> ParseServiceEndpoint(std::string_view text) {
    bool secure = false;
    if (StartsWithNoCase(text, "https://")) {
        secure = true;
        text.remove_prefix(8);
    } else if (StartsWithNoCase(text, "http://")) {
        text.remove_prefix(7);
    }
    if (text.ends_with('/')) {
        text.remove_suffix(1);
    }
    const auto colon = text.find(':');
    const std::string_view host = text.substr(0, colon);
    if (!IsValidHost(host)) {
        return std::nullopt;
    }
    TServiceEndpoint endpoint{std::string(host),
                              secure ? kDefaultSecureServicePort : kDefaultServicePort, secure};
    if (colon != std::string_view::npos) {
        const std::string_view port = text.substr(colon + 1);
        unsigned value = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (port.empty() || error != std::errc{} || end != port.data() + port.size() ||
            value == 0 || value > 65535) {
            return std::nullopt;
        }
        endpoint.Port = static_cast<std::uint16_t>(value);
    }
    return endpoint;
}

TServiceEndpoint ServiceEndpoint() {
    std::lock_guard lock(endpointMutex);
    return currentEndpoint;
}

void SetServiceEndpoint(TServiceEndpoint endpoint) {
    std::lock_guard lock(endpointMutex);
    currentEndpoint = std::move(endpoint);
}

std::string ServiceRequestUrl(std::string_view action, std::initializer_list<TQueryPair> keys) {
    const TServiceEndpoint endpoint = ServiceEndpoint();
    std::string url = endpoint.Secure ? "https://" : "http://";
    url += endpoint.Host;
    url += kServiceScriptPath;
    url += "?action=";
    url += action;
    for (const auto& [key, value] : keys) {
        url += '&';
        url += key;
        url += '=';
        url += value;
    }
    return url;
}

std::string WebPageUrl(std::string_view path) {
    const TServiceEndpoint endpoint = ServiceEndpoint();
    std::string url = (endpoint.Secure ? "https://" : "http://") + endpoint.Host;
    if (endpoint.Port != (endpoint.Secure ? kDefaultSecureServicePort : kDefaultServicePort)) {
        url += ':' + std::to_string(endpoint.Port);
    }
    url += path;
    return url;
}
