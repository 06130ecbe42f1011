#pragma once
// The HTTP/1.0 transport: one GET over a connection of its own, the body read until the
// server closes, delivered into memory or into a file.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The memory destination: none, or the body received followed by one zero byte.
using TMemoryBlock = std::optional<std::string>;

// How long the connection attempt and each read may wait.
inline constexpr std::chrono::milliseconds kDefaultNetTimeout{30'000};

// The wait limit that UrlGet uses when none is given: kDefaultNetTimeout unless a test has
// shortened it. Production code never changes it.
std::chrono::milliseconds NetTimeout();
void SetNetTimeoutForTests(std::chrono::milliseconds timeout);

// Fetches `url` ("scheme//host/path?query") from `port`. An empty `fileName` selects the
// memory destination (`buffer`/`size` receive the body plus a zero byte); otherwise the body
// is written to that file. True when the exchange ended normally (the server closed or reset
// the connection); false when no request was made or a read failed or timed out, in which
// case `buffer` is none and `size` 0.
bool UrlGet(const std::string& url, std::uint16_t port, const std::string& fileName,
            TMemoryBlock& buffer, std::size_t& size);
bool UrlGet(const std::string& url, std::uint16_t port, const std::string& fileName,
            TMemoryBlock& buffer, std::size_t& size, std::chrono::milliseconds timeout);

// An "https://" URL is fetched the same way over TLS to the host on `port`; this result also
// says why a secure connection was refused (the certificate or the handshake), which is
// empty when none was refused. A peer that does not answer in time is no refusal.
struct TUrlGetResult {
    bool ok = false;
    std::string secureFailure;
};
TUrlGetResult UrlGetWithReason(const std::string& url, std::uint16_t port,
                               const std::string& fileName, TMemoryBlock& buffer, std::size_t& size,
                               std::chrono::milliseconds timeout);

// The trusted authorities for "https://" URLs: a PEM file, or empty for the system's.
void SetTrustedAuthorityFile(std::string path);

// The first IPv4 address of `name` in dotted form, or empty text.
std::string ResolveHost(const std::string& name);

// The request text for a host and path (the path without its leading "/").
std::string BuildRequest(const std::string& host, const std::string& path);
