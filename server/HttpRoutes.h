#pragma once
// What the service replies to one complete HTTP request: the service script, the web pages,
// their aliases, and failure replies. Knows nothing of sockets; the front end carries the
// request in and the reply out.

#include "server/Health.h"
#include "server/QuickReply.h"
#include "server/ServiceActions.h"
#include "server/StorageEngine.h"

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace server {

struct HttpRequestInfo {
    std::string Method;
    std::string Target; // raw, as it came: service values are never decoded
    std::string ContentType;
    std::string Body;
    std::string Peer;
    std::chrono::steady_clock::time_point Received; // when the request had been read whole
};

struct HttpReply {
    int Status = 200;
    std::string ContentType = "text/plain; charset=utf-8";
    std::string Body;
    std::vector<std::pair<std::string, std::string>> Headers; // beyond type, length, close
    // A large body shared with other replies (the update package), sent in place of Body.
    std::shared_ptr<const std::string> SharedBody;
};

struct RouteOptions {
    bool SignupOpen = true;
    // How long the readiness check's outcome stands.
    std::chrono::steady_clock::duration ReadinessKept = std::chrono::seconds(1);
};

// The reason phrase of a status line.
std::string_view ReasonFor(int status);
// A failure reply the client can show: "ERR " and the status's reason.
HttpReply FailureReply(int status);

// Decodes an application/x-www-form-urlencoded body ("+" is a blank, %XX a byte); the value of
// `key`, empty when absent.
std::string FormValue(std::string_view form, std::string_view key);

class HttpRoutes {
public:
    HttpRoutes(StorageEngine& storage, ServiceActions& actions, RouteOptions options);
    HttpReply ReplyTo(const HttpRequestInfo& request);
    // The service script's requests that need neither the database nor a hash check, and the
    // liveness probe, on the caller's thread (ServiceActions::ReplyQuickly); `later` gets a queued
    // one's reply.
    QuickReply<HttpReply> ReplyQuickly(const HttpRequestInfo& request,
                                       QueuedReplyDone<HttpReply> later);

private:
    HttpReply ProbeReply(std::string_view path);

    StorageEngine& storage_;
    ServiceActions& actions_;
    RouteOptions options_;
    Readiness readiness_;
};

// One access log line (no line break): peer, method, path and the action, status and size.
// Never a query value: the query carries the account's password.
std::string AccessLogLine(const HttpRequestInfo& request, const HttpReply& reply);

} // namespace server
