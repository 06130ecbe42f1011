#include "server/ServiceActions.h"

#include "server/MemoryView.h"
#include "server/ServiceInput.h"
#include "server/Validation.h"

#include <arpa/inet.h>
#include <chrono>
#include <ctime>
#include <iostream>

namespace server {

namespace {

constexpr std::string_view kTooManyFailures = "Too many failed logins, try again later";
constexpr std::string_view kUnavailable = "Service temporarily unavailable, try again later";

ServiceReply Ok(std::string_view data = {}) {
    ServiceReply reply;
    reply.Body = "OK";
    if (!data.empty()) {
        reply.Body += ' ';
        reply.Body += data;
    }
    return reply;
}

ServiceReply Failure(std::string_view message) {
    ServiceReply reply;
    reply.Body = "ERR ";
    reply.Body += message;
    return reply;
}

// The user ID in a message, when it is one that could exist (no echo of arbitrary text).
std::string Named(std::string_view prefix, std::string_view userId) {
    std::string text(prefix);
    if (IsValidUserId(userId)) {
        text += ": ";
        text += userId;
    }
    return text;
}

} // namespace

ServiceReply ServiceActions::StorageFailure(const Error& error) {
    std::cerr << "corvale-server: storage failure: " << error.Message << '\n';
    if (Metrics* metrics = metrics_.load()) {
        metrics->CountDatabaseError();
    }
    ServiceReply reply = Failure(kUnavailable);
    reply.Status = 503;
    return reply;
}

ServiceActions::~ServiceActions() {
    if (Metrics* metrics = metrics_.load()) {
        metrics->LoginsFrom({}); // what it read is going
    }
}

void ServiceActions::CountInto(Metrics* metrics) {
    metrics_.store(metrics);
    reports_.CountInto(metrics);
    if (metrics) {
        metrics->LoginsFrom([this] { return authenticator_.Counts(); });
    }
}

UnixTime SystemNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string FormatRecordTime(UnixTime time) {
    const std::time_t t = static_cast<std::time_t>(time);
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text, length);
}

std::string NormalizePeerAddress(std::string_view peer) {
    constexpr std::string_view kMappedPrefix = "::ffff:";
    if (peer.size() > kMappedPrefix.size() &&
        peer.substr(0, kMappedPrefix.size()) == kMappedPrefix) {
        const std::string tail(peer.substr(kMappedPrefix.size()));
        in_addr address{};
        if (inet_pton(AF_INET, tail.c_str(), &address) == 1) {
            return tail;
        }
    }
    return std::string(peer);
}

ServiceActions::ServiceActions(StorageEngine& storage, UpdateOffer offer, Clock clock,
                               AuthenticatorOptions logins)
    : storage_(storage), offer_(std::move(offer)), clock_(std::move(clock)),
      authenticator_(storage, logins), reports_(storage) {
    if (offer_.PackageOverride) {
        packageOverride_ = std::make_shared<const std::string>(std::move(*offer_.PackageOverride));
        offer_.PackageOverride.reset();
    }
}

ServiceReply ServiceActions::ReplyTo(std::string_view rawTarget, std::string_view peerAddress) {
    const Result<ServiceQuery> query = ReadServiceRequest(rawTarget);
    if (!query) {
        return Failure(query.Failure().Message);
    }
    return Dispatch(*query, NormalizePeerAddress(peerAddress));
}

QuickReply<ServiceReply> ServiceActions::ReplyQuickly(std::string_view rawTarget,
                                                      std::string_view peerAddress,
                                                      QueuedReplyDone<ServiceReply> later) {
    const Result<ServiceQuery> query = ReadServiceRequest(rawTarget);
    if (!query) {
        return Failure(query.Failure().Message);
    }
    if (query->Action == "getip") {
        return QuickGetIp(*query, NormalizePeerAddress(peerAddress));
    }
    if (query->Action == "setip") {
        return QuickSetIp(*query, std::move(later));
    }
    return ReplyOnWorker{};
}

// As GetIp, when no hash check is needed: no login offered, or one remembered.
QuickReply<ServiceReply> ServiceActions::QuickGetIp(const ServiceQuery& query,
                                                    const std::string& peer) {
    std::string recorded;
    const auto host = query.Find("host");
    if (host && IsValidHostName(*host)) {
        const auto offered = ReadLogin(query);
        if (offered && !offered->Password.empty()) {
            const auto login = authenticator_.Remembered(offered->UserId, offered->Password);
            if (!login) {
                return ReplyOnWorker{};
            }
            recorded = storage_.View().RecordedAddress(login->Account, *host);
        }
    }
    return Ok(peer + ' ' + recorded);
}

// As SetIp behind a remembered login; the writing thread checks that the login still holds.
QuickReply<ServiceReply> ServiceActions::QuickSetIp(const ServiceQuery& query,
                                                    QueuedReplyDone<ServiceReply> later) {
    const auto offered = ReadLogin(query);
    if (!offered) {
        return Failure(kInvalidLogin);
    }
    auto login = authenticator_.Remembered(offered->UserId, offered->Password);
    if (!login) {
        return ReplyOnWorker{}; // a full check, or a refusal within the login limits
    }
    Result<ReportInput> read = ReadAddressReport(query);
    if (!read) {
        return Failure(read.Failure().Message);
    }
    AddressReport report{login->Account,
                         std::move(login->PasswordHash),
                         std::string(read->Host),
                         std::string(read->Address),
                         clock_(),
                         std::move(read->ClientVersion)};
    if (reports_.AlreadyRecorded(report)) {
        // A repeat within the same second, as overlapping checks of one client send: the
        // row holds it, committed, so the reply needs no transaction.
        return Ok();
    }
    reports_.Queue(std::move(report), [later = std::move(later)](ReportOutcome outcome) {
        switch (outcome) {
        case ReportOutcome::Recorded:
            return later(Ok());
        case ReportOutcome::TooManyHosts:
            return later(Failure("Too many hosts for this account"));
        case ReportOutcome::LoginChanged:
            return later(ReplyOnWorker{});
        case ReportOutcome::Failed:
            break;
        }
        ServiceReply failed = Failure(kUnavailable);
        failed.Status = 503;
        later(std::move(failed));
    });
    return ReplyQueued{};
}

ServiceReply ServiceActions::Dispatch(const ServiceQuery& query, std::string_view peer) {
    const std::string& action = query.Action;
    if (action == "getip") {
        return GetIp(query, peer);
    }
    if (action == "clver") {
        return Clver();
    }
    if (action == "dlupdate") {
        return Dlupdate();
    }
    if (action == "dlupdatesig") {
        return Dlupdatesig();
    }
    using AccountAction = ServiceReply (*)(ServiceActions&, const ServiceQuery&, AccountKey);
    static const std::pair<std::string_view, AccountAction> kAccountActions[] = {
        {"setip",
         [](ServiceActions& s, const ServiceQuery& q, AccountKey a) { return s.SetIp(q, a); }},
        {"gethostlist",
         [](ServiceActions& s, const ServiceQuery&, AccountKey a) { return s.GetHostList(a); }},
        {"getbuddies",
         [](ServiceActions& s, const ServiceQuery&, AccountKey a) { return s.GetBuddies(a); }},
        {"invite",
         [](ServiceActions& s, const ServiceQuery& q, AccountKey a) { return s.Invite(q, a); }},
        {"exclude",
         [](ServiceActions& s, const ServiceQuery& q, AccountKey a) { return s.Exclude(q, a); }},
    };
    for (const auto& [name, run] : kAccountActions) {
        if (action != name) {
            continue;
        }
        const auto login = Authenticate(query, peer);
        if (!login) {
            return StorageFailure(login.Failure());
        }
        switch (login->Outcome) {
        case LoginOutcome::Accepted:
            return run(*this, query, login->Account);
        case LoginOutcome::Throttled:
            return Failure(kTooManyFailures);
        case LoginOutcome::Refused:
            break;
        }
        return Failure(kInvalidLogin);
    }
    return Failure("Unknown action");
}

Result<LoginResult> ServiceActions::Authenticate(const ServiceQuery& query, std::string_view peer) {
    const auto offered = ReadLogin(query);
    if (!offered) {
        return LoginResult{};
    }
    return authenticator_.Login(offered->UserId, offered->Password, peer);
}

// The check needs no account. The address on record is given only to the account's owner:
// anyone else gets an empty record, which the client follows with a report that then fails
// visibly, rather than learning where someone else's computer is.
ServiceReply ServiceActions::GetIp(const ServiceQuery& query, std::string_view peer) {
    std::string recorded;
    const auto host = query.Find("host");
    if (host && IsValidHostName(*host)) {
        const auto login = Authenticate(query, peer);
        if (!login) {
            return StorageFailure(login.Failure());
        }
        if (login->Outcome == LoginOutcome::Accepted) {
            auto address = storage_.RecordedAddress(login->Account, *host);
            if (!address) {
                return StorageFailure(address.Failure());
            }
            recorded = std::move(*address);
        }
    }
    std::string data(peer);
    data += ' ';
    data += recorded;
    return Ok(data);
}

ServiceReply ServiceActions::SetIp(const ServiceQuery& query, AccountKey account) {
    const Result<ReportInput> read = ReadAddressReport(query);
    if (!read) {
        return Failure(read.Failure().Message);
    }
    const auto& [host, address, clientVersion] = *read;
    const auto number = storage_.RecordAddress(account, host, address, clock_(), clientVersion);
    if (!number) {
        return StorageFailure(number.Failure());
    }
    if (!*number) {
        return Failure("Too many hosts for this account");
    }
    return Ok();
}

ServiceReply ServiceActions::GetHostList(AccountKey account) {
    const auto hosts = storage_.HostsOf(account);
    if (!hosts) {
        return StorageFailure(hosts.Failure());
    }
    std::string records;
    for (const HostRecord& host : *hosts) {
        records += std::to_string(host.Number) + ',' + host.Name + ';';
    }
    return Ok(records);
}

ServiceReply ServiceActions::GetBuddies(AccountKey account) {
    const auto hosts = storage_.HostsOfferedTo(account);
    if (!hosts) {
        return StorageFailure(hosts.Failure());
    }
    std::string records;
    for (const HostRecord& host : *hosts) {
        // A host that never reported has no address, and then no date either.
        const bool hasAddress = host.Reported && !host.Address.empty();
        records += host.Owner + ',' + host.Address + ',' +
                   (hasAddress ? FormatRecordTime(*host.Reported) : std::string()) + ',' +
                   host.Name + ';';
    }
    return Ok(records);
}

ServiceReply ServiceActions::Invite(const ServiceQuery& query, AccountKey account) {
    const auto buddy = query.Find("invid");
    if (!buddy || buddy->empty()) {
        return Failure("Missing key: invid");
    }
    const auto list = query.Find("hl");
    if (!list) {
        return Failure("Missing key: hl");
    }
    const auto hosts = ParseHostNumbers(*list);
    if (!hosts) {
        return Failure("Invalid host list");
    }
    const auto offered = storage_.OfferHosts(account, *buddy, *hosts, clock_());
    if (!offered) {
        return StorageFailure(offered.Failure());
    }
    const OfferOutcome& outcome = *offered;
    switch (outcome.Result) {
    case OfferResult::Recorded:
        return Ok();
    case OfferResult::UnknownBuddy:
        return Failure(Named("Unknown user ID", *buddy));
    case OfferResult::SelfOffer:
        return Failure("You cannot invite yourself");
    case OfferResult::ForeignHost:
        return Failure("Host " + std::to_string(outcome.ForeignHost) + " is not one of your hosts");
    }
    return Failure("Invitation refused");
}

ServiceReply ServiceActions::Exclude(const ServiceQuery& query, AccountKey account) {
    const auto buddy = query.Find("invid");
    if (!buddy || buddy->empty()) {
        return Failure("Missing key: invid");
    }
    const auto other = storage_.FindAccount(*buddy);
    if (!other) {
        return StorageFailure(other.Failure());
    }
    if (!*other) {
        return Failure(Named("Unknown user ID", *buddy));
    }
    const auto removed = storage_.RemoveOffersBetween(account, **other);
    if (!removed) {
        return StorageFailure(removed.Failure());
    }
    if (*removed == 0) {
        return Failure(Named("Not in your buddy list", *buddy));
    }
    return Ok();
}

Result<ProductVersion> ServiceActions::OfferedVersion() {
    if (offer_.VersionOverride) {
        return *offer_.VersionOverride;
    }
    const auto stored = storage_.OfferedVersion();
    if (!stored) {
        return stored.Failure();
    }
    if (*stored) {
        if (const auto version = ParseVersion(**stored)) {
            return *version;
        }
    }
    return offer_.DefaultVersion;
}

Result<std::optional<std::int64_t>> ServiceActions::PackageSize() {
    if (packageOverride_) {
        return std::optional<std::int64_t>(static_cast<std::int64_t>(packageOverride_->size()));
    }
    return storage_.PackageSize();
}

ServiceReply ServiceActions::Clver() {
    const auto version = OfferedVersion();
    if (!version) {
        return StorageFailure(version.Failure());
    }
    return Ok(VersionLines(*version));
}

Result<std::optional<std::string>> ServiceActions::PackageSignature() {
    if (packageOverride_) {
        return offer_.SignatureOverride;
    }
    return storage_.PackageSignature();
}

ServiceReply ServiceActions::Dlupdatesig() {
    const auto signature = PackageSignature();
    if (!signature) {
        return StorageFailure(signature.Failure());
    }
    ServiceReply reply;
    if (!*signature) {
        reply.Status = 404; // no signature: the client installs nothing
        return reply;
    }
    reply.Body = **signature;
    return reply;
}

ServiceReply ServiceActions::Dlupdate() {
    ServiceReply reply;
    reply.ContentType = "application/octet-stream";
    // Shared, never copied: many downloads at once cost one package's memory.
    if (packageOverride_) {
        reply.Package = packageOverride_;
    } else {
        auto stored = storage_.SharedPackage();
        if (!stored) {
            return StorageFailure(stored.Failure());
        }
        reply.Package = std::move(*stored);
    }
    if (!reply.Package) {
        reply.Status = 404; // an empty body: nothing for the client to save and run
        return reply;
    }
    reply.IsPackage = true;
    return reply;
}

} // namespace server
