#pragma once
// The service script: one request target in, one reply out. Text replies start with "OK" and
// the data, or with "ERR" and a short message that the client shows to its user.

#include "server/Authenticator.h"
#include "server/QuickReply.h"
#include "server/ReportWriter.h"
#include "server/Result.h"
#include "server/ServiceQuery.h"
#include "server/StorageEngine.h"
#include "server/Version.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace server {

struct UpdateOffer {
    ProductVersion DefaultVersion;                 // offered when nothing else is configured
    std::optional<ProductVersion> VersionOverride; // from the command line; wins over storage
    std::optional<std::string> PackageOverride;    // from the command line; wins over storage
    std::optional<std::string> SignatureOverride;  // the override package's signature file
};

struct ServiceReply {
    int Status = 200;
    std::string ContentType = "text/plain; charset=utf-8";
    std::string Body;
    bool IsPackage = false; // the body is the update package, not a text reply
    // The package itself, shared with every other download of it, in place of Body.
    std::shared_ptr<const std::string> Package;
};

using Clock = std::function<UnixTime()>;
UnixTime SystemNow();

// "YYYY-MM-DD HH:MM:SS" in the server's local time zone.
std::string FormatRecordTime(UnixTime time);
// The peer as the client should see it: an IPv4-mapped IPv6 address in its dotted form.
std::string NormalizePeerAddress(std::string_view peer);

class ServiceActions {
public:
    ServiceActions(StorageEngine& storage, UpdateOffer offer, Clock clock = SystemNow,
                   AuthenticatorOptions logins = {});
    ~ServiceActions();
    ServiceActions(const ServiceActions&) = delete;
    ServiceActions& operator=(const ServiceActions&) = delete;

    ServiceReply ReplyTo(std::string_view rawTarget, std::string_view peerAddress);
    // What needs neither the database nor a password hash check: a bad query, the address
    // check, and an address report of a remembered login (queued for the writing thread,
    // which gives `later` its reply). Every reply is the one ReplyTo would give.
    QuickReply<ServiceReply> ReplyQuickly(std::string_view rawTarget, std::string_view peerAddress,
                                          QueuedReplyDone<ServiceReply> later);

    // What the service currently offers, for the web pages as well.
    Result<ProductVersion> OfferedVersion();
    Result<std::optional<std::int64_t>> PackageSize();
    // The signature file of the package the download delivers; none without a package.
    Result<std::optional<std::string>> PackageSignature();
    Authenticator& LoginsForTests() { return authenticator_; }
    // The queue of address reports for the writing thread.
    ReportWriter& Reports() { return reports_; }
    // Logins, report transactions and database failures are counted there from now on (set
    // before serving); none to stop.
    void CountInto(Metrics* metrics);

private:
    ServiceReply Dispatch(const ServiceQuery& query, std::string_view peer);
    ServiceReply GetIp(const ServiceQuery& query, std::string_view peer);
    ServiceReply SetIp(const ServiceQuery& query, AccountKey account);
    ServiceReply GetHostList(AccountKey account);
    ServiceReply GetBuddies(AccountKey account);
    ServiceReply Invite(const ServiceQuery& query, AccountKey account);
    ServiceReply Exclude(const ServiceQuery& query, AccountKey account);
    ServiceReply Clver();
    ServiceReply Dlupdate();
    ServiceReply Dlupdatesig();
    Result<LoginResult> Authenticate(const ServiceQuery& query, std::string_view peer);
    QuickReply<ServiceReply> QuickGetIp(const ServiceQuery& query, const std::string& peer);
    QuickReply<ServiceReply> QuickSetIp(const ServiceQuery& query,
                                        QueuedReplyDone<ServiceReply> later);
    // A database failure: the client is asked to try again later, and the failure is logged.
    ServiceReply StorageFailure(const Error& error);

    StorageEngine& storage_;
    UpdateOffer offer_;
    std::shared_ptr<const std::string> packageOverride_; // the offer's, shared by downloads
    Clock clock_;
    Authenticator authenticator_;
    std::atomic<Metrics*> metrics_{nullptr};
    ReportWriter reports_; // last: its thread stops before the rest goes
};

} // namespace server
