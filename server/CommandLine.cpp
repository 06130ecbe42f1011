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

// The numeric limits: option name, range, and where the value goes.
struct NumberOption {
    std::string_view Name;
    int Low;
    int High;
    void (*Apply)(CommandLine&, int);
};

constexpr int kKiB = 1024;

const NumberOption kNumberOptions[] = {
    {"--threads", 1, kMaxThreads, [](CommandLine& l, int v) { l.Threads = v; }},
    {"--io-threads", 1, 64, [](CommandLine& l, int v) { l.IoThreads = v; }},
    {"--max-head-kib", 1, 1024,
     [](CommandLine& l, int v) { l.Limits.MaxHeadBytes = static_cast<std::size_t>(v) * kKiB; }},
    {"--max-target-kib", 1, 1024,
     [](CommandLine& l, int v) { l.Limits.MaxTargetBytes = static_cast<std::size_t>(v) * kKiB; }},
    {"--max-body-kib", 1, 16 * 1024,
     [](CommandLine& l, int v) { l.Limits.MaxBodyBytes = static_cast<std::size_t>(v) * kKiB; }},
    {"--head-timeout", 1, 3600,
     [](CommandLine& l, int v) { l.Limits.HeadTimeout = std::chrono::seconds(v); }},
    {"--reply-timeout", 1, 3600,
     [](CommandLine& l, int v) { l.Limits.ReplyTimeout = std::chrono::seconds(v); }},
    {"--max-connections", 1, 1'000'000,
     [](CommandLine& l, int v) { l.Limits.MaxConnections = static_cast<std::size_t>(v); }},
    {"--max-per-address", 1, 1'000'000,
     [](CommandLine& l, int v) {
         l.Limits.MaxConnectionsPerAddress = static_cast<std::size_t>(v);
     }},
};

const NumberOption* FindNumberOption(std::string_view name) {
    for (const NumberOption& option : kNumberOptions) {
        if (option.Name == name) {
            return &option;
        }
    }
    return nullptr;
}

bool TakesValue(std::string_view name) {
    return name == "--listen" || name == "--db" || name == "--offer-version" ||
           name == "--tls-cert" || name == "--tls-key" || name == "--package" ||
           name == "--signature" || name == "--metrics-listen" || FindNumberOption(name) != nullptr;
}

// Applies one option, or refuses its value.
Result<void> ApplyOption(CommandLine& line, std::string_view name, const std::string& value,
                         bool& listenSeen) {
    if (name == "--metrics-listen") {
        line.MetricsListen = ParseListenAddress(value);
        if (!line.MetricsListen) {
            return Refusal("invalid --metrics-listen address: " + value);
        }
        return {};
    }
    if (name == "--listen") {
        const auto address = ParseListenAddress(value);
        if (!address) {
            return Refusal("invalid --listen address: " + value);
        }
        if (line.SecondListen) {
            return Refusal("--listen may be given twice at most");
        }
        (listenSeen ? line.SecondListen.emplace() : line.Listen) = *address;
        listenSeen = true;
    } else if (name == "--tls-cert" || name == "--tls-key") {
        if (value.empty()) {
            return Refusal(std::string(name) + " needs a file name");
        }
        (name == "--tls-cert" ? line.TlsCertificateFile : line.TlsKeyFile) = value;
    } else if (name == "--db") {
        if (value.empty()) {
            return Refusal("--db needs a file name");
        }
        line.Database = value;
    } else if (name == "--offer-version") {
        line.OfferVersion = ParseVersion(value);
        if (!line.OfferVersion) {
            return Refusal("invalid --offer-version (expected four numbers, e.g. 0.3.12.30): " +
                           value);
        }
    } else if (name == "--package") {
        if (value.empty()) {
            return Refusal("--package needs a file name");
        }
        line.PackageFile = value;
    } else if (name == "--signature") {
        if (value.empty()) {
            return Refusal("--signature needs a file name");
        }
        line.SignatureFile = value;
    } else if (const NumberOption* option = FindNumberOption(name)) {
        const auto number = ParseNumber(value, option->Low, option->High);
        if (!number) {
            return Refusal("invalid " + std::string(name) + " (" + std::to_string(option->Low) +
                           " to " + std::to_string(option->High) + "): " + value);
        }
        option->Apply(line, *number);
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

Result<CommandLine> ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    bool listenSeen = false;
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
                    return Refusal(name + " needs a value");
                }
                if (Result<void> applied = ApplyOption(line, name, value, listenSeen); !applied) {
                    return applied.Failure();
                }
                continue;
            } else {
                return Refusal("unknown option: " + arg);
            }
            if (equals != std::string::npos) {
                return Refusal(name + " takes no value");
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
    if (line.TlsCertificateFile.has_value() != line.TlsKeyFile.has_value()) {
        return Refusal("--tls-cert and --tls-key go together");
    }
    if (line.SecondListen && !line.TlsCertificateFile) {
        return Refusal("a second --listen serves HTTPS: give --tls-cert and --tls-key");
    }
    return line;
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
                            download delivers (at most 64 MiB), with its
                            signature FILE.minisig (or --signature); refused
                            without a valid one.
  clear-package             Offer no package any more (the download answers
                            404 with an empty body).
  show-offer                Print the offered version, package size and the
                            signature's key ID and trusted comment.
  copy-db FROM TO           Copy everything from database FROM into the new
                            database TO (an SQLite file or a postgresql://
                            address, either way) in one transaction; prints
                            each table's rows, checked against the source.
  backup OUT                Copy the SQLite database to the file OUT while the
                            service runs and writes: one consistent moment,
                            replacing OUT only once complete. (A PostgreSQL
                            database: use pg_dump.)
  check                     Check that the SQLite database is intact; prints
                            what it found, exit status 1 when damaged. (A
                            PostgreSQL database: use amcheck.)
  stored-password [PASSWORD]
                            Print the stored form of PASSWORD (standard
                            input when omitted): the value of "password" in
                            the client's corvale.ini.

Options:
  --listen ADDR[:PORT]      Address to listen on (default 127.0.0.1:8080).
                            ADDR may be a name, an IPv4 address or [IPv6];
                            PORT 0 picks a free port. May be given twice
                            with --tls-cert: the first then serves plain
                            HTTP, the second HTTPS.
  --tls-cert FILE           Serve HTTPS with this certificate (PEM, the
                            server's own first, then any intermediates).
  --tls-key FILE            Its private key (PEM). Both files are read at
                            start-up, so the key may be readable by root
                            only; under systemd, LoadCredential= hands them
                            over as $CREDENTIALS_DIRECTORY/<name>.
                            A certificate: from a public authority for a
                            name the clients reach, or for a LAN from an
                            authority of your own (see the README). Clients
                            then use service=https://HOST[:PORT] and, for
                            an own authority, ca_file=PATH in corvale.ini.
  --db FILE                 The database file (default ./corvale-server.db);
                            created when missing.
  --db postgresql://[USER@][HOST][:PORT]/DBNAME[?...]
                            A PostgreSQL database instead, which several
                            instances may share; libpq's PG* variables,
                            password file and ?service=NAME supply the rest.
  --offer-version VERSION   Offer VERSION to version checks while serving,
                            whatever set-version stored.
  --package FILE            Deliver FILE as the update package while serving,
                            whatever set-package stored (read at start-up),
                            with its signature as for set-package.
  --signature FILE          The package's signature file for set-package and
                            --package (default: the package's name + .minisig).
  --threads N               Workers that make answers (database work and
                            password checks) at the same time (1 to 256,
                            default 8).
  --io-threads N            Threads that carry the connections' reads and
                            writes, each with connections of its own (1 to
                            64, default 2; one per processor core is best).

Limits (a request beyond one is answered with a failure and closed):
  --max-head-kib N          Request line and header fields together, in KiB
                            (default 16; beyond: 431).
  --max-target-kib N        The request target, in KiB (default 8; beyond:
                            414).
  --max-body-kib N          A form's body, in KiB (default 64; beyond: 413).
  --head-timeout S          Seconds from connecting to the end of the request
                            head (default 10); then the connection is closed.
  --reply-timeout S         Seconds for a form's body, again for making the
                            answer and again for sending it, renewed by every
                            64 KiB sent (default 60).
  --max-connections N       Connections open at once (default 4096); more are
                            answered 503 and closed.
  --max-per-address N       Connections open at once from one client address,
                            an IPv6 client counted by its /64 (default 64);
                            more are answered 503 and closed.

Other options:
  --no-signup               Close the sign-up page; accounts are then made
                            with add-account only.
  --access-log              Log one line per request to standard error (path
                            and action only, never the query's values).
                            GET /healthz and /readyz (the database takes a
                            write) are never logged.
  --metrics-listen ADDR:PORT
                            Serve GET /metrics (Prometheus text format) on
                            this address; off by default. It asks for no
                            login: keep it on the loopback or behind a
                            proxy.
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
  letters, digits, ".", "_" or "-". Host names and user IDs must be UTF-8
  text without control characters. The address on record for a host is
  shown only to the holder of the account's password.
  Passwords are kept only as salted Argon2id hashes of the form the client
  sends; a database from a version that kept that form itself is converted
  when it is first opened. After 10 failed logins in a row for one user ID,
  or 30 from one address, further attempts are refused for a while (one
  more every 6 or 2 seconds).

Exit status:
  0  success
  1  failure (database, file or listening socket)
  2  usage error
  3  add-account: the user ID is taken
  4  set-password, delete-account, list-hosts: no such account
)";
}

} // namespace server
