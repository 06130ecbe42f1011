#include "server/HttpRoutes.h"

#include "core/ServiceContract.h"
#include "server/ServiceQuery.h"
#include "server/WebPages.h"

#include <type_traits>
#include <variant>

namespace server {

namespace {

constexpr const char* kHtml = "text/html; charset=utf-8";

std::string_view PathOf(std::string_view target) {
    return target.substr(0, target.find('?'));
}

bool IsHomeAlias(std::string_view path) {
    return path == "/" || path == "/tools/corvale" || path == "/tools/corvale/index.html";
}

bool IsPlainWord(std::string_view text) {
    for (char c : text) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
            return false;
        }
    }
    return true;
}

// A path may hold anything a client sent; a log line must stay one line.
std::string Printable(std::string_view text) {
    std::string shown(text);
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return shown;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string FormDecode(std::string_view text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            decoded += ' ';
        } else if (c == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
                   HexDigit(text[i + 2]) >= 0) {
            decoded += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            decoded += c;
        }
    }
    return decoded;
}

HttpReply Html(PageReply page) {
    HttpReply reply;
    reply.Status = page.Status;
    reply.ContentType = kHtml;
    reply.Body = std::move(page.Html);
    return reply;
}

HttpReply FromService(ServiceReply service) {
    HttpReply reply;
    reply.Status = service.Status;
    reply.ContentType = std::move(service.ContentType);
    reply.Body = std::move(service.Body);
    reply.SharedBody = std::move(service.Package);
    if (service.IsPackage) {
        reply.Headers.emplace_back("Content-Disposition", "attachment; filename=\"" +
                                                              std::string(kUpdatePackageName) +
                                                              "\"");
    }
    return reply;
}

// The same outcome, with the service's reply (if made) as the HTTP reply.
template <class Outcome, class Service> Outcome FromServiceOutcome(Service service) {
    return std::visit(
        [](auto&& alternative) -> Outcome {
            using Alternative = std::decay_t<decltype(alternative)>;
            if constexpr (std::is_same_v<Alternative, ServiceReply>) {
                return FromService(std::move(alternative));
            } else {
                return alternative;
            }
        },
        std::move(service));
}

} // namespace

std::string_view ReasonFor(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 414:
        return "URI Too Long";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Error";
    }
}

HttpReply FailureReply(int status) {
    // The client shows the text after "ERR": plain words it can put in a message box.
    static const std::pair<int, const char*> kMessages[] = {
        {400, "Bad request"},
        {404, "Not found"},
        {405, "Method not allowed"},
        {411, "Length required"},
        {413, "Request too large"},
        {414, "Request too long"},
        {431, "Request header too large"},
        {500, "Internal error"},
        {501, "Not implemented"},
        {503, "Too many connections, try again later"},
        {505, "HTTP version not supported"},
    };
    HttpReply reply;
    reply.Status = status;
    reply.Body = "ERR HTTP status " + std::to_string(status);
    for (const auto& [code, message] : kMessages) {
        if (code == status) {
            reply.Body = std::string("ERR ") + message;
        }
    }
    return reply;
}

std::string FormValue(std::string_view form, std::string_view key) {
    while (!form.empty()) {
        const auto amp = form.find('&');
        const std::string_view pair = form.substr(0, amp);
        form.remove_prefix(amp == std::string_view::npos ? form.size() : amp + 1);
        const auto equals = pair.find('=');
        if (FormDecode(pair.substr(0, equals)) == key) {
            return equals == std::string_view::npos ? std::string()
                                                    : FormDecode(pair.substr(equals + 1));
        }
    }
    return {};
}

HttpRoutes::HttpRoutes(StorageEngine& storage, ServiceActions& actions, RouteOptions options)
    : storage_(storage), actions_(actions), options_(options),
      readiness_(storage, options.ReadinessKept) {}

// Liveness needs nothing; readiness says why the database is not ready, for the operator.
HttpReply HttpRoutes::ProbeReply(std::string_view path) {
    HttpReply reply;
    reply.Headers.emplace_back("Cache-Control", "no-store");
    if (path == kHealthPath) {
        reply.Body = "ok\n";
        return reply;
    }
    if (const auto ready = readiness_.Check(); !ready) {
        reply.Status = 503;
        reply.Body = "not ready: " + ready.Failure().Message + "\n";
        return reply;
    }
    reply.Body = "ready\n";
    return reply;
}

HttpReply HttpRoutes::ReplyTo(const HttpRequestInfo& request) {
    const std::string_view path = PathOf(request.Target);
    const bool get = request.Method == "GET" || request.Method == "HEAD";
    const bool known = path == kServiceScriptPath || path == kHomePagePath ||
                       path == kSignupPagePath || IsHomeAlias(path) || IsProbeTarget(path);
    if (!known) {
        return FailureReply(404);
    }
    const bool post = request.Method == "POST" && path == kSignupPagePath;
    if (!get && !post) {
        HttpReply reply = FailureReply(405);
        reply.Headers.emplace_back("Allow",
                                   path == kSignupPagePath ? "GET, HEAD, POST" : "GET, HEAD");
        return reply;
    }
    if (path == kServiceScriptPath) {
        return FromService(actions_.ReplyTo(request.Target, request.Peer));
    }
    if (IsProbeTarget(path)) {
        return ProbeReply(path);
    }
    if (path == kHomePagePath) {
        const auto version = actions_.OfferedVersion();
        const auto size = actions_.PackageSize();
        if (!version || !size) {
            return FailureReply(500); // as for any request that fails on the way
        }
        return Html({200, HomePage(*version, *size, options_.SignupOpen)});
    }
    if (IsHomeAlias(path)) {
        HttpReply reply;
        reply.Status = 301;
        reply.Body = "Moved to " + std::string(kHomePagePath);
        reply.Headers.emplace_back("Location", std::string(kHomePagePath));
        return reply;
    }
    if (post) {
        const SignupInput input{FormValue(request.Body, "id"), FormValue(request.Body, "password"),
                                FormValue(request.Body, "repeat")};
        auto page = SubmitSignup(storage_, input, options_.SignupOpen, SystemNow());
        if (!page) {
            return FailureReply(500); // as for any request that fails on the way
        }
        return Html(std::move(*page));
    }
    return Html(SignupPage(options_.SignupOpen));
}

QuickReply<HttpReply> HttpRoutes::ReplyQuickly(const HttpRequestInfo& request,
                                               QueuedReplyDone<HttpReply> later) {
    const bool get = request.Method == "GET" || request.Method == "HEAD";
    if (get && PathOf(request.Target) == kHealthPath) {
        return ProbeReply(kHealthPath);
    }
    if (PathOf(request.Target) != kServiceScriptPath ||
        (request.Method != "GET" && request.Method != "HEAD")) {
        return ReplyOnWorker{};
    }
    return FromServiceOutcome<QuickReply<HttpReply>>(actions_.ReplyQuickly(
        request.Target, request.Peer, [later = std::move(later)](QueuedReply<ServiceReply> done) {
            later(FromServiceOutcome<QueuedReply<HttpReply>>(std::move(done)));
        }));
}

std::string AccessLogLine(const HttpRequestInfo& request, const HttpReply& reply) {
    const std::string_view target = request.Target;
    std::string line =
        request.Peer + " \"" + Printable(request.Method) + ' ' + Printable(PathOf(target));
    if (PathOf(target) == kServiceScriptPath) {
        if (const auto query = ParseServiceQuery(target);
            query && !query->Action.empty() && IsPlainWord(query->Action)) {
            line += "?action=" + query->Action;
        }
    }
    line += "\" " + std::to_string(reply.Status) + ' ' +
            std::to_string(reply.SharedBody ? reply.SharedBody->size() : reply.Body.size());
    return line;
}

} // namespace server
