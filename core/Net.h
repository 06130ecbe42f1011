#pragma once
// The HTTP/1.0 transport: one GET over a connection of its own, the reply read to its end
// and its body delivered into memory or into a file.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The memory destination: none, or the body received followed by one zero byte.
using TMemoryBlock = std::optional<std::string>;

// How long the connection attempt and each read may wait.
inline constexpr std::chrono::milliseconds kDefaultNetTimeout{30'000};
// How long one whole exchange may take, from the connection attempt to the reply's end.
inline constexpr std::chrono::milliseconds kDefaultExchangeTimeout{60'000};
// The largest body each destination accepts: a service reply is a line of text, an update
// package a program.
inline constexpr std::uint64_t kMaxMemoryBody = 1024 * 1024;
inline constexpr std::uint64_t kMaxFileBody = 256ull * 1024 * 1024;

struct TNetLimits {
    std::chrono::milliseconds PerRead = kDefaultNetTimeout;
    std::chrono::milliseconds Exchange = kDefaultExchangeTimeout;
    std::uint64_t MemoryBody = kMaxMemoryBody;
    std::uint64_t FileBody = kMaxFileBody;
};

// The limits UrlGet uses when none are given: the defaults above unless a test has changed
// them. Production code never changes them.
TNetLimits NetLimits();
void SetNetLimitsForTests(const TNetLimits& limits);
// The per-read limit alone (the other limits keep their values).
std::chrono::milliseconds NetTimeout();
void SetNetTimeoutForTests(std::chrono::milliseconds timeout);

// Fetches `url` ("scheme//host/path?query") from `port`. An empty `fileName` selects the
// memory destination (`buffer`/`size` receive the body plus a zero byte); otherwise the body
// is written to that file. True when the exchange ended normally; false when no request was
// made, a read failed or timed out, the reply was cut off or too large, in which case
// `buffer` is none and `size` 0. A file that grew past its limit is removed.
bool UrlGet(const std::string& url, std::uint16_t port, const std::string& fileName,
            TMemoryBlock& buffer, std::size_t& size);
bool UrlGet(const std::string& url, std::uint16_t port, const std::string& fileName,
            TMemoryBlock& buffer, std::size_t& size, const TNetLimits& limits);
// The default limits with another per-read limit.
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
                               const TNetLimits& limits);

// The trusted authorities for "https://" URLs: a PEM file, or empty for the system's.
void SetTrustedAuthorityFile(std::string path);
std::string TrustedAuthorityFile();

// The first IPv4 address of `name` in dotted form, or empty text.
std::string ResolveHost(const std::string& name);
// Replaces the system's name look-up behind ResolveHost; an empty function restores it.
void SetResolverForTests(std::function<std::string(const std::string& name)> resolver);

// The request text for a host and path (the path without its leading "/").
std::string BuildRequest(const std::string& host, const std::string& path);
// What the Host line names: the host, with ":port" unless the port is the scheme's default
// or the host already names one.
std::string HostField(const std::string& host, std::uint16_t port, std::uint16_t defaultPort = 80);
