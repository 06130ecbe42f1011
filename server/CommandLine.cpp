#include "server/CommandLine.h"

#include <charconv>

namespace server {

namespace {

std::optional<int> ParseNumber(std::string_view text, int low, int high) {
    int value = 0;
    const auto end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

bool TakesValue(std::string_view name) {
    return name == "--listen" || name == "--db" || name == "--offer-version" ||
           name == "--package" || name == "--threads";
}

// Applies one option; the error text, or empty when it was fine.
std::string ApplyOption(CommandLine& line, std::string_view name, const std::string& value) {
    if (name == "--listen") {
        const auto address = ParseListenAddress(value);
        if (!address) {
            return "invalid --listen address: " + value;
        }
        line.Listen = *address;
    } else if (name == "--db") {
        if (value.empty()) {
            return "--db needs a file name";
        }
        line.Database = value;
    } else if (name == "--offer-version") {
        line.OfferVersion = ParseVersion(value);
        if (!line.OfferVersion) {
            return "invalid --offer-version (expected four numbers, e.g. 0.3.12.30): " + value;
        }
    } else if (name == "--package") {
        if (value.empty()) {
            return "--package needs a file name";
        }
        line.PackageFile = value;
    } else if (name == "--threads") {
        const auto threads = ParseNumber(value, 1, kMaxThreads);
        if (!threads) {
            return "invalid --threads (1 to " + std::to_string(kMaxThreads) + "): " + value;
        }
        line.Threads = *threads;
    }
    return {};
}

} // namespace

std::optional<ListenAddress> ParseListenAddress(std::string_view text) {
    std::string_view host = text;
    std::optional<std::string_view> port;
    if (text.empty()) {
        return std::nullopt;
    }
    if (text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos || close == 1) {
            return std::nullopt;
        }
        host = text.substr(1, close - 1);
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                return std::nullopt;
            }
            port = rest.substr(1);
        }
    } else if (const auto colon = text.find(':'); colon != std::string_view::npos) {
        if (text.find(':', colon + 1) != std::string_view::npos) {
            return std::nullopt; // a bare IPv6 address needs brackets
        }
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    ListenAddress address;
    if (!host.empty()) {
        address.Host = host;
    }
    if (port) {
        const auto number = ParseNumber(*port, 0, 65535);
        if (!number) {
            return std::nullopt;
        }
        address.Port = static_cast<std::uint16_t>(*number);
    }
    return address;
}

CommandLineParse ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    bool commandSeen = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && arg.size() > 1 && arg.front() == '-') {
            const auto equals = arg.find('=');
            const std::string name = arg.substr(0, equals);
            if (name == "--help" || name == "-h") {
                line.ShowHelp = true;
            } else if (name == "--version") {
                line.ShowVersion = true;
            } else if (name == "--no-signup") {
                line.SignupOpen = false;
            } else if (name == "--access-log") {
                line.AccessLog = true;
            } else if (TakesValue(name)) {
                std::string value;
                if (equals != std::string::npos) {
                    value = arg.substr(equals + 1);
                } else if (i + 1 < args.size()) {
                    value = args[++i];
                } else {
                    return {std::nullopt, name + " needs a value"};
                }
                if (std::string error = ApplyOption(line, name, value); !error.empty()) {
                    return {std::nullopt, error};
                }
                continue;
            } else {
                return {std::nullopt, "unknown option: " + arg};
            }
            if (equals != std::string::npos) {
                return {std::nullopt, name + " takes no value"};
            }
            continue;
        }
        if (!commandSeen) {
            line.Command = arg;
            commandSeen = true;
        } else {
            line.Arguments.push_back(arg);
        }
    }
    return {std::move(line), {}};
}

std::string HelpText() {
    return R"(Usage: corvale-server [OPTIONS] [COMMAND [ARGUMENTS]]

The Corvale reference service: answers the Corvale client's requests to
/bin/corvale/cmd.php and serves the web pages /tools/corvale/ (home and
download) and /tools/corvale/signup.php (creating a CorvaleID). Everything
it keeps is in one SQLite database file.

Commands:
  serve                     Serve HTTP until SIGINT or SIGTERM (the default).
                            Prints "corvale-server listening on HOST:PORT"
                            once the socket is open.
  add-account USER [PASSWORD]
                            Create an account. Without PASSWORD, the first
                            line of standard input is the password.
  set-password USER [PASSWORD]
                            Change an account's password (same input rule).
  delete-account USER       Delete an account with its hosts and offers.
  list-accounts             One line per account: user ID, number of hosts,
                            creation time (tab-separated).
  list-hosts [USER]         One line per host: user ID, host number, host
                            name, address, time of the last report, client
                            version (tab-separated). All accounts without USER.
  set-version VERSION       Offer VERSION (e.g. 0.3.12.30) to version checks;
                            "default" offers the client's own version again.
  set-package FILE          Store FILE as the update package that the update
                            download delivers (at most 64 MiB).
  clear-package             Offer no package any more (the download answers
                            404 with an empty body).
  show-offer                Print the offered version and package size.
  stored-password [PASSWORD]
                            Print the stored form of PASSWORD (standard
                            input when omitted): the value of "password" in
                            the client's corvale.ini.

Options:
  --listen ADDR[:PORT]      Address to listen on (default 127.0.0.1:8080).
                            ADDR may be a name, an IPv4 address or [IPv6];
                            PORT 0 picks a free port.
  --db FILE                 The database file (default ./corvale-server.db);
                            created when missing.
  --offer-version VERSION   Offer VERSION to version checks while serving,
                            whatever set-version stored.
  --package FILE            Deliver FILE as the update package while serving,
                            whatever set-package stored (read at start-up).
  --threads N               Requests answered at the same time (1 to 256,
                            default 8).
  --no-signup               Close the sign-up page; accounts are then made
                            with add-account only.
  --access-log              Log one line per request to standard error (path
                            and action only, never the query's values).
  -h, --help                Show this help and exit.
  --version                 Show the version of the client this service
                            belongs to and exit.

Notes:
  Invitations are accepted at once: the reference service sends no e-mail,
  and an invited user sees the offered hosts in the buddy list right away.
  A user who invites again adds hosts to those already offered; "exclude"
  removes every offer between the two users, in both directions.
  Values in service requests arrive unencoded and are taken as they are.
  An account has at most 256 hosts. Each answer closes its connection.
  Dates in buddy lists are the server's local time (set TZ to change the
  zone). User IDs compare without regard to case and consist of 1 to 32
  letters, digits, ".", "_" or "-". The address on record for a host is
  shown only to the holder of the account's password.

Exit status:
  0  success
  1  failure (database, file or listening socket)
  2  usage error
  3  add-account: the user ID is taken
  4  set-password, delete-account, list-hosts: no such account
)";
}

} // namespace server
