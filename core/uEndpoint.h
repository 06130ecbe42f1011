#pragma once
// Where the service lives and how its addresses are formed: the one place every service URL
// and web page address comes from.

#include "core/ServiceContract.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

struct TServiceEndpoint {
    std::string Host;
    std::uint16_t Port = 80;
    bool Secure = false;         // TLS to the host ("https://"); plain HTTP otherwise
    std::string AuthorityFile{}; // trusted authorities for TLS; empty: the system's
    // Public keys whose update packages are trusted besides the built-in release key: key
    // lines as the signing tool writes them, separated by commas or blanks; may be empty.
    std::string UpdateKeys{};
    bool operator==(const TServiceEndpoint&) const = default;
};

inline constexpr std::string_view kDefaultServiceHost = "service.corvale.example";
inline constexpr std::uint16_t kDefaultServicePort = 80;
inline constexpr std::uint16_t kDefaultSecureServicePort = 443;

// The built-in service: what the client uses unless the settings file names another.
inline TServiceEndpoint DefaultServiceEndpoint() {
    return {std::string(kDefaultServiceHost), kDefaultServicePort};
}

// "host" or "host:port" (port 1 to 65535), optionally after "http://" (the same, plain HTTP)
// or "https://" (TLS, port 443 unless given); one "/" may end it. None for anything else,
// including empty text.
std::optional<TServiceEndpoint> ParseServiceEndpoint(std::string_view text);

// The endpoint in use: the built-in default until start-up configures another.
TServiceEndpoint ServiceEndpoint();
void SetServiceEndpoint(TServiceEndpoint endpoint);

using TQueryPair = std::pair<std::string_view, std::string_view>;

// "http://<host>/bin/corvale/cmd.php?action=<action>&k1=v1&..." ("https://" for a secure
// endpoint) with the keys in the given order and the values inserted as they are (the service
// expects them unencoded). The port is not part of the URL: it is handed to the transport
// separately.
std::string ServiceRequestUrl(std::string_view action, std::initializer_list<TQueryPair> keys = {});

// The address of a page on the service host for the user's browser ("http://host[:port]/...",
// "https://" for a secure endpoint; the port only when it is not the scheme's default).
std::string WebPageUrl(std::string_view path);
