#pragma once
// The command line of corvale-server: options, the command and its arguments, and the help.

#include "server/HttpLimits.h"
#include "server/Result.h"
#include "server/Version.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace server {

// Exit codes, documented in the help text so that scripts can rely on them.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitAccountExists = 3;
inline constexpr int kExitNoSuchAccount = 4;

inline constexpr int kMaxThreads = 256;

struct ListenAddress {
    std::string Host = "127.0.0.1";
    std::uint16_t Port = 8080;
};

struct CommandLine {
    std::string Command = "serve";
    std::vector<std::string> Arguments;
    ListenAddress Listen;
    // A second --listen: with a certificate, the first address then serves plain HTTP and
    // this one HTTPS; with one --listen and a certificate, that one serves HTTPS.
    std::optional<ListenAddress> SecondListen;
    std::optional<std::string> TlsCertificateFile; // PEM, the chain from the server's own
    std::optional<std::string> TlsKeyFile;         // PEM, read before serving
    std::string Database = "corvale-server.db";
    std::optional<ProductVersion> OfferVersion;
    std::optional<std::string> PackageFile;
    // The package's signature file (--signature); FILE.minisig beside the package when none.
    std::optional<std::string> SignatureFile;
    int Threads = 8;
    int IoThreads = 2;
    HttpLimits Limits;
    bool SignupOpen = true;
    bool AccessLog = false;
    // Where scrapers read /metrics; off when absent.
    std::optional<ListenAddress> MetricsListen;
    bool ShowHelp = false;
    bool ShowVersion = false;
};

// `args` without the program name. Options may stand before or after the command; "--" ends
// them. Both "--name value" and "--name=value" are accepted. A refusal's message is for the
// usage message.
Result<CommandLine> ParseCommandLine(const std::vector<std::string>& args);

// "HOST:PORT", "HOST", ":PORT" or "[IPv6]:PORT"; port 0 picks a free one.
std::optional<ListenAddress> ParseListenAddress(std::string_view text);

std::string HelpText();

} // namespace server
