#include "server/AdminCommands.h"

#include "server/Backup.h"
#include "server/OpenEngine.h"
#include "server/PgCopy.h"
#include "server/ServiceActions.h"
#include "server/Validation.h"
#include "util/uBase64.h"
#include "util/uSignature.h"

#include <fstream>
#include <iterator>
#include <map>
#include <optional>

namespace server {

namespace {

constexpr std::size_t kMaxPackageSize = 64u * 1024 * 1024;
constexpr std::size_t kMaxSignatureSize = 64u * 1024; // a signature file is four short lines

struct Context {
    const CommandLine& line;
    const ProductVersion& clientVersion;
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
};

int Usage(Context& c, const std::string& message) {
    c.err << "corvale-server: " << message << "\nTry 'corvale-server --help'.\n";
    return kExitUsage;
}

// The typed password: the argument after the user ID, else the first line of the input.
std::optional<std::string> TypedPassword(Context& c, std::size_t index) {
    if (c.line.Arguments.size() > index) {
        return c.line.Arguments[index];
    }
    std::string password;
    if (!std::getline(c.in, password)) {
        return std::nullopt;
    }
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    return password;
}

Result<std::string> CheckedPassword(Context& c, std::size_t index) {
    auto password = TypedPassword(c, index);
    if (!password || !IsValidTypedPassword(*password)) {
        return Refusal("the password must be 1 to 128 characters without control characters");
    }
    return std::move(*password);
}

} // namespace

Result<std::string> ReadPackageFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return Unavailable("cannot read " + path);
    }
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) {
        return Unavailable("cannot read " + path);
    }
    if (bytes.size() > kMaxPackageSize) {
        return Refusal(path + " is larger than 64 MiB");
    }
    return bytes;
}

Result<std::string> ReadPackageSignature(const std::string& packagePath,
                                         const std::optional<std::string>& signatureFile) {
    const std::string path = signatureFile.value_or(packagePath + ".minisig");
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return Refusal("cannot read the signature " + path +
                       " (sign the package, or name its signature with --signature)");
    }
    std::string text;
    text.resize(kMaxSignatureSize + 1);
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad()) {
        return Unavailable("cannot read " + path);
    }
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > kMaxSignatureSize) {
        return Refusal(path + " is too large for a signature file");
    }
    std::string reason;
    if (!ParseUpdateSignature(text, reason)) {
        return Refusal(path + " is no valid signature file: " + reason);
    }
    return text;
}

namespace {

// A database failure, told as it is.
int Failed(Context& c, const Error& error) {
    c.err << "corvale-server: " << error.Message << '\n';
    return kExitFailure;
}

int AddAccount(Context& c, StorageEngine& storage) {
    const std::string& userId = c.line.Arguments[0];
    if (!IsValidUserId(userId)) {
        return Usage(c, "a user ID consists of 1 to 32 letters, digits, \".\", \"_\" or \"-\"");
    }
    const auto password = CheckedPassword(c, 1);
    if (!password) {
        return Usage(c, password.Failure().Message);
    }
    const auto created = storage.CreateAccount(userId, ScramblePassword(*password), SystemNow());
    if (!created) {
        return Failed(c, created.Failure());
    }
    if (*created == CreateResult::AlreadyExists) {
        c.err << "corvale-server: the user ID " << userId << " is taken\n";
        return kExitAccountExists;
    }
    c.out << "created account " << userId << '\n';
    return kExitOk;
}

int SetPassword(Context& c, StorageEngine& storage) {
    const std::string& userId = c.line.Arguments[0];
    const auto password = CheckedPassword(c, 1);
    if (!password) {
        return Usage(c, password.Failure().Message);
    }
    const auto changed = storage.SetPassword(userId, ScramblePassword(*password));
    if (!changed) {
        return Failed(c, changed.Failure());
    }
    if (!*changed) {
        c.err << "corvale-server: no account " << userId << '\n';
        return kExitNoSuchAccount;
    }
    c.out << "changed the password of " << userId << '\n';
    return kExitOk;
}

int DeleteAccount(Context& c, StorageEngine& storage) {
    const std::string& userId = c.line.Arguments[0];
    const auto deleted = storage.DeleteAccount(userId);
    if (!deleted) {
        return Failed(c, deleted.Failure());
    }
    if (!*deleted) {
        c.err << "corvale-server: no account " << userId << '\n';
        return kExitNoSuchAccount;
    }
    c.out << "deleted account " << userId << '\n';
    return kExitOk;
}

int ListAccounts(Context& c, StorageEngine& storage) {
    const auto accounts = storage.ListAccounts();
    if (!accounts) {
        return Failed(c, accounts.Failure());
    }
    for (const AccountSummary& account : *accounts) {
        c.out << account.UserId << '\t' << account.HostCount << '\t'
              << FormatRecordTime(account.Created) << '\n';
    }
    return kExitOk;
}

int ListHosts(Context& c, StorageEngine& storage) {
    Result<std::vector<HostRecord>> hosts = std::vector<HostRecord>();
    if (c.line.Arguments.empty()) {
        hosts = storage.AllHosts();
    } else {
        const auto account = storage.FindAccount(c.line.Arguments[0]);
        if (!account) {
            return Failed(c, account.Failure());
        }
        if (!*account) {
            c.err << "corvale-server: no account " << c.line.Arguments[0] << '\n';
            return kExitNoSuchAccount;
        }
        hosts = storage.HostsOf(**account);
    }
    if (!hosts) {
        return Failed(c, hosts.Failure());
    }
    for (const HostRecord& host : *hosts) {
        c.out << host.Owner << '\t' << host.Number << '\t' << host.Name << '\t' << host.Address
              << '\t' << (host.Reported ? FormatRecordTime(*host.Reported) : std::string()) << '\t'
              << host.ClientVersion << '\n';
    }
    return kExitOk;
}

int SetVersion(Context& c, StorageEngine& storage) {
    const std::string& text = c.line.Arguments[0];
    if (text == "default") {
        if (const auto set = storage.SetOfferedVersion(std::nullopt); !set) {
            return Failed(c, set.Failure());
        }
        c.out << "offering the client's own version " << VersionText(c.clientVersion) << '\n';
        return kExitOk;
    }
    const auto version = ParseVersion(text);
    if (!version) {
        return Usage(c, "a version is four numbers joined by \".\", e.g. 0.3.12.30");
    }
    if (const auto set = storage.SetOfferedVersion(VersionText(*version)); !set) {
        return Failed(c, set.Failure());
    }
    c.out << "offering version " << VersionText(*version) << '\n';
    return kExitOk;
}

int SetPackage(Context& c, StorageEngine& storage) {
    auto bytes = ReadPackageFile(c.line.Arguments[0]);
    if (!bytes) {
        c.err << "corvale-server: " << bytes.Failure().Message << '\n';
        return kExitFailure;
    }
    auto signature = ReadPackageSignature(c.line.Arguments[0], c.line.SignatureFile);
    if (!signature) {
        c.err << "corvale-server: " << signature.Failure().Message << '\n';
        return kExitFailure;
    }
    const std::size_t size = bytes->size();
    if (const auto set = storage.SetPackage(std::move(bytes).Value()); !set) {
        return Failed(c, set.Failure());
    }
    // A download between the two writes finds a signature that does not fit: the client
    // refuses that package, it never runs one unchecked.
    if (const auto set = storage.SetPackageSignature(std::move(signature).Value()); !set) {
        return Failed(c, set.Failure());
    }
    c.out << "stored the update package (" << size << " bytes) and its signature\n";
    return kExitOk;
}

int ClearPackage(Context& c, StorageEngine& storage) {
    if (const auto set = storage.SetPackage(std::nullopt); !set) {
        return Failed(c, set.Failure());
    }
    if (const auto set = storage.SetPackageSignature(std::nullopt); !set) {
        return Failed(c, set.Failure());
    }
    c.out << "no update package is offered\n";
    return kExitOk;
}

int ShowOffer(Context& c, StorageEngine& storage) {
    ServiceActions actions(storage, UpdateOffer{c.clientVersion, {}, {}, {}});
    const auto version = actions.OfferedVersion();
    if (!version) {
        return Failed(c, version.Failure());
    }
    c.out << "version\t" << VersionText(*version) << '\n';
    const auto size = actions.PackageSize();
    if (!size) {
        return Failed(c, size.Failure());
    }
    c.out << "package\t" << (*size ? std::to_string(**size) + " bytes" : std::string("none"))
          << '\n';
    const auto signatureText = actions.PackageSignature();
    if (!signatureText) {
        return Failed(c, signatureText.Failure());
    }
    std::string reason;
    const auto signature =
        *signatureText ? ParseUpdateSignature(**signatureText, reason) : std::nullopt;
    if (!signature) {
        c.out << "signature\tnone\n";
        return kExitOk;
    }
    c.out << "key ID\t" << KeyIdText(signature->KeyId) << '\n';
    c.out << "trusted comment\t" << signature->TrustedComment << '\n';
    return kExitOk;
}

int StoredPassword(Context& c) {
    const auto password = CheckedPassword(c, 0);
    if (!password) {
        return Usage(c, password.Failure().Message);
    }
    c.out << ScramblePassword(*password) << '\n';
    return kExitOk;
}

// A command that works on the database, with the number of arguments it accepts.
struct StorageCommand {
    std::size_t MinArgs;
    std::size_t MaxArgs;
    int (*Run)(Context&, StorageEngine&);
};

const std::map<std::string_view, StorageCommand>& StorageCommands() {
    static const std::map<std::string_view, StorageCommand> commands = {
        {"add-account", {1, 2, AddAccount}},       {"set-password", {1, 2, SetPassword}},
        {"delete-account", {1, 1, DeleteAccount}}, {"list-accounts", {0, 0, ListAccounts}},
        {"list-hosts", {0, 1, ListHosts}},         {"set-version", {1, 1, SetVersion}},
        {"set-package", {1, 1, SetPackage}},       {"clear-package", {0, 0, ClearPackage}},
        {"show-offer", {0, 0, ShowOffer}},
    };
    return commands;
}

} // namespace

// --- copying a database into another (of either engine)
namespace {

int CopyDb(Context& c) {
    const auto copied = CopyDatabase(c.line.Arguments[0], c.line.Arguments[1]);
    if (!copied) {
        return copied.Failure().Kind == ErrorKind::Invalid ? Usage(c, copied.Failure().Message)
                                                           : Failed(c, copied.Failure());
    }
    for (const auto& [table, rows] : *copied) {
        c.out << table << '\t' << rows << '\n';
    }
    return kExitOk;
}

} // namespace

// --- a copy of the live database, and the check that a file is intact (SQLite files only)
namespace {

int Backup(Context& c) {
    if (NamesPostgresDatabase(c.line.Database)) {
        c.err << "corvale-server: backup copies an SQLite file; back up a PostgreSQL database "
                 "with its own tools (pg_dump)\n";
        return kExitFailure;
    }
    const auto copied = BackupDatabase(c.line.Database, c.line.Arguments[0]);
    if (!copied) {
        return copied.Failure().Kind == ErrorKind::Invalid ? Usage(c, copied.Failure().Message)
                                                           : Failed(c, copied.Failure());
    }
    c.out << "copied " << c.line.Database << " to " << c.line.Arguments[0] << " (" << copied->Pages
          << " pages, " << copied->Bytes << " bytes)\n";
    return kExitOk;
}

int Check(Context& c) {
    if (NamesPostgresDatabase(c.line.Database)) {
        c.err << "corvale-server: check reads an SQLite file; check a PostgreSQL database "
                 "with its own tools (amcheck)\n";
        return kExitFailure;
    }
    const auto problems = CheckDatabase(c.line.Database);
    if (!problems) {
        return Failed(c, problems.Failure());
    }
    for (const std::string& problem : *problems) {
        c.out << problem << '\n';
    }
    if (!problems->empty()) {
        c.err << "corvale-server: " << c.line.Database << " is damaged (" << problems->size()
              << (problems->size() == 1 ? " problem" : " problems")
              << "); restore it from a backup\n";
        return kExitFailure;
    }
    c.out << "ok: " << c.line.Database << " is intact\n";
    return kExitOk;
}

} // namespace

bool IsAdminCommand(std::string_view command) {
    return command == "stored-password" || command == "copy-db" || command == "backup" ||
           command == "check" || StorageCommands().count(command) > 0;
}

int RunAdminCommand(const CommandLine& line, const ProductVersion& clientVersion, std::istream& in,
                    std::ostream& out, std::ostream& err) {
    Context c{line, clientVersion, in, out, err};
    if (line.Command == "stored-password") {
        if (line.Arguments.size() > 1) {
            return Usage(c, "stored-password takes at most one argument");
        }
        return StoredPassword(c);
    }
    if (line.Command == "copy-db") {
        if (line.Arguments.size() != 2) {
            return Usage(c, "copy-db takes the database to copy and the one to copy into");
        }
        return CopyDb(c);
    }
    if (line.Command == "backup") {
        if (line.Arguments.size() != 1) {
            return Usage(c, "backup takes the file to copy the database into");
        }
        return Backup(c);
    }
    if (line.Command == "check") {
        if (!line.Arguments.empty()) {
            return Usage(c, "check takes no arguments");
        }
        return Check(c);
    }
    const auto found = StorageCommands().find(line.Command);
    if (found == StorageCommands().end()) {
        return Usage(c, "unknown command: " + line.Command);
    }
    const StorageCommand& command = found->second;
    if (line.Arguments.size() < command.MinArgs || line.Arguments.size() > command.MaxArgs) {
        return Usage(c, "wrong number of arguments for " + line.Command);
    }
    const auto storage = OpenStorageEngine(line.Database); // the engine its name chooses
    if (!storage) {
        return Failed(c, storage.Failure());
    }
    return command.Run(c, **storage);
}

} // namespace server
