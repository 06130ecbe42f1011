#pragma once
// The service script: one request target in, one reply out. Text replies start with "OK" and
// the data, or with "ERR" and a short message that the client shows to its user.

#include "server/Authenticator.h"
#include "server/ServiceQuery.h"
#include "server/Storage.h"
#include "server/Version.h"

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

enum class QuickAnswer {
    Ready,   // the reply is made
    Queued,  // the reply comes later, once the database has committed the change
    NotQuick // answer with Handle, away from the caller's thread
};
// Called once, on the writing thread; with no reply when Handle must answer after all.
using LaterReply = std::function<void(std::optional<ServiceReply>)>;

class ServiceActions {
public:
    ServiceActions(Storage& storage, UpdateOffer offer, Clock clock = SystemNow,
                   AuthenticatorOptions logins = {});

    ServiceReply Handle(std::string_view rawTarget, std::string_view peerAddress);
    // What can be answered without waiting for the database or a password hash check, so on
    // the thread that carries the connection: a bad query, the address check, and an address
    // report of a remembered login (queued for the writing thread). The reply is the one
    // Handle would give.
    QuickAnswer AnswerQuickly(std::string_view rawTarget, std::string_view peerAddress,
                              ServiceReply& reply, LaterReply later);

    // What the service currently offers, for the web pages as well.
    ProductVersion OfferedVersion();
    std::optional<std::int64_t> PackageSize();
    Authenticator& LoginsForTests() { return authenticator_; }

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
    LoginResult Authenticate(const ServiceQuery& query, std::string_view peer);
    QuickAnswer QuickGetIp(const ServiceQuery& query, const std::string& peer, ServiceReply& reply);
    QuickAnswer QuickSetIp(const ServiceQuery& query, ServiceReply& reply, LaterReply later);

    Storage& storage_;
    UpdateOffer offer_;
    std::shared_ptr<const std::string> packageOverride_; // the offer's, shared by downloads
    Clock clock_;
    Authenticator authenticator_;
};

} // namespace server
