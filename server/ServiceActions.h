#pragma once
// The service script: one request target in, one reply out. Text replies start with "OK" and
// the data, or with "ERR" and a short message that the client shows to its user.

#include "server/Authenticator.h"
#include "server/ServiceQuery.h"
#include "server/Storage.h"
#include "server/Version.h"

#include <functional>
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
};

using Clock = std::function<UnixTime()>;
UnixTime SystemNow();

// "YYYY-MM-DD HH:MM:SS" in the server's local time zone.
std::string FormatRecordTime(UnixTime time);
// The peer as the client should see it: an IPv4-mapped IPv6 address in its dotted form.
std::string NormalizePeerAddress(std::string_view peer);

class ServiceActions {
public:
    ServiceActions(Storage& storage, UpdateOffer offer, Clock clock = SystemNow,
                   AuthenticatorOptions logins = {});

    ServiceReply Handle(std::string_view rawTarget, std::string_view peerAddress);

    // What the service currently offers, for the web pages as well.
    ProductVersion OfferedVersion();
    std::optional<std::int64_t> PackageSize();
    Authenticator& Logins() { return authenticator_; }

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

    Storage& storage_;
    UpdateOffer offer_;
    Clock clock_;
    Authenticator authenticator_;
};

} // namespace server
