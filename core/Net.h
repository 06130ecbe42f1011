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
// How long one whole exchange into memory may take, from the connection attempt to the
// reply's end: a service reply is short and soon there.
inline constexpr std::chrono::milliseconds kDefaultExchangeTimeout{60'000};
// A download into a file takes as long as it needs while it goes on steadily: at least this
// many bytes in every such span (about 17 kbit/s), so that a slow line completes and a
// trickle is still cut off.
inline constexpr std::uint64_t kMinFileProgressBytes = 64 * 1024;
inline constexpr std::chrono::milliseconds kFileProgressSpan{30'000};
// The largest body each destination accepts: a service reply is a line of text, an update
// package a program.
inline constexpr std::uint64_t kMaxMemoryBody = 1024 * 1024;
inline constexpr std::uint64_t kMaxFileBody = 256ull * 1024 * 1024;

struct TNetLimits {
    std::chrono::milliseconds PerRead = kDefaultNetTimeout;
    std::chrono::milliseconds Exchange = kDefaultExchangeTimeout;
    std::uint64_t MemoryBody = kMaxMemoryBody;
    std::uint64_t FileBody = kMaxFileBody;
    std::uint64_t FileProgressBytes = kMinFileProgressBytes;
    std::chrono::milliseconds FileProgressSpan = kFileProgressSpan;
};

// The limits a fetch uses unless it is given others: the defaults above unless a test has
// changed them. Production code never changes them.
TNetLimits NetLimits();
void SetNetLimitsForTests(const TNetLimits& limits);

// One GET. "https://" URLs go over TLS to the host on `Port`, checked against the
// authorities of `AuthorityFile` (a PEM file; empty text for the system's).
struct TFetchRequest {
    std::string Url; // "scheme//host/path?query"
    std::uint16_t Port = 80;
    std::string FileName{}; // where the body goes; empty text: into memory, the result's Body
    TNetLimits Limits = NetLimits();
    std::string AuthorityFile{};
};

struct TFetchResult {
    // The exchange ended normally: false when no request was made, a read failed or timed
    // out, the reply was cut off or too large, or the file could not be written.
    bool Ok = false;
    // A connection was made (and secured when asked) and the exchange over it began.
    bool RequestSent = false;
    // The memory destination after a normal end: the body followed by one zero byte.
    TMemoryBlock Body{};
    // Why a secure connection was refused (the certificate or the handshake); empty when
    // none was. A peer that does not answer in time is no refusal.
    std::string SecureFailure{};
};

// A file that grew past its limit is removed; a file fetch that fails otherwise keeps what
// was written.
TFetchResult Fetch(const TFetchRequest& request);

// Fetches `url` from `port` with the limits in force and the system's trusted authorities.
// An empty `fileName` selects the memory destination (`buffer`/`size` receive the body plus a
// zero byte); otherwise the body is written to that file. True when the exchange ended
// normally. `buffer` and `size` keep the caller's values when no request went out; once one
// did, a memory fetch sets them to the body (none and 0 when it failed) and a failed file
// fetch to none and 0. A file that grew past its limit is removed.
bool UrlGet(const std::string& url, std::uint16_t port, const std::string& fileName,
            TMemoryBlock& buffer, std::size_t& size);

// The first IPv4 address of `name` in dotted form, or empty text.
std::string ResolveHost(const std::string& name);
// Replaces the system's name look-up behind ResolveHost; an empty function restores it.
void SetResolverForTests(std::function<std::string(const std::string& name)> resolver);

// The request text for a host and path (the path without its leading "/").
std::string BuildRequest(const std::string& host, const std::string& path);
// What the Host line names: the host, with ":port" unless the port is the scheme's default
// or the host already names one.
std::string HostField(const std::string& host, std::uint16_t port, std::uint16_t defaultPort = 80);
