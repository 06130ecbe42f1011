#include "server/HttpFrontEnd.h"

#include "server/WebPages.h"

#include <chrono>
#include <httplib.h>
#include <sys/socket.h>

namespace server {

namespace {

constexpr const char* kServiceScriptPattern = R"(/bin/corvale/cmd\.php)";
constexpr const char* kHomePattern = R"(/tools/corvale/)";
constexpr const char* kSignupPattern = R"(/tools/corvale/signup\.php)";
constexpr const char* kHomePath = "/tools/corvale/";
constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kText = "text/plain; charset=utf-8";

// The library listens with a tiny backlog; bursts of short connections need room to queue.
constexpr int kListenBacklog = 512;
constexpr std::size_t kMaxPayload = 64 * 1024;

std::string ReasonFor(int status) {
    switch (status) {
    case 400:
        return "Bad request";
    case 404:
        return "Not found";
    case 405:
        return "Method not allowed";
    case 413:
        return "Request too large";
    case 414:
        return "Request too long";
    default:
        return "HTTP status " + std::to_string(status);
    }
}

bool IsPlainWord(const std::string& text) {
    for (char c : text) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
            return false;
        }
    }
    return true;
}

// A decoded path may hold line breaks; a log line must stay one line.
std::string Printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return text;
}

} // namespace

class HttpFrontEnd::Server : public httplib::Server {
public:
    // Widens the queue of the socket that bind_to_port() left listening.
    bool WidenBacklog() { return ::listen(svr_sock_, kListenBacklog) == 0; }
};

HttpFrontEnd::HttpFrontEnd(Storage& storage, ServiceActions& actions, FrontEndOptions options)
    : server_(std::make_unique<Server>()) {
    Server& http = *server_;
    const int threads = options.Threads > 0 ? options.Threads : 1;
    http.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    http.set_keep_alive_max_count(1); // one request per connection, then "Connection: close"
    http.set_payload_max_length(kMaxPayload);
    // The library's default also sets SO_REUSEPORT, which would let a second server share
    // the port (and split the clients between two databases) instead of failing to start.
    http.set_socket_options([](int socket) {
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });

    http.Get(kServiceScriptPattern,
             [&actions](const httplib::Request& req, httplib::Response& res) {
                 // The raw target: the values in it are not encoded and must not be decoded.
                 ServiceReply reply = actions.Handle(req.target, req.remote_addr);
                 res.status = reply.Status;
                 if (reply.IsPackage) {
                     res.set_header("Content-Disposition", R"(attachment; filename="cvlupf.exe")");
                 }
                 res.set_content(std::move(reply.Body), reply.ContentType.c_str());
             });
    http.Get(kHomePattern, [&actions, options](const httplib::Request&, httplib::Response& res) {
        res.set_content(
            HomePage(actions.OfferedVersion(), actions.PackageSize(), options.SignupOpen), kHtml);
    });
    for (const char* alias : {"/", "/tools/corvale", "/tools/corvale/index.html"}) {
        http.Get(alias, [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect(kHomePath, 301);
            res.set_content(std::string("Moved to ") + kHomePath, kText);
        });
    }
    http.Get(kSignupPattern, [options](const httplib::Request&, httplib::Response& res) {
        PageReply page = SignupPage(options.SignupOpen);
        res.status = page.Status;
        res.set_content(std::move(page.Html), kHtml);
    });
    http.Post(
        kSignupPattern, [&storage, options](const httplib::Request& req, httplib::Response& res) {
            const SignupInput input{req.get_param_value("id"), req.get_param_value("password"),
                                    req.get_param_value("repeat")};
            PageReply page = SubmitSignup(storage, input, options.SignupOpen, SystemNow());
            res.status = page.Status;
            res.set_content(std::move(page.Html), kHtml);
        });

    // Anything the handlers did not answer (a garbage request line, an unknown path, an
    // over-long target) still gets a failure reply the client can show.
    http.set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
            if (res.has_header("Content-Type")) {
                return httplib::Server::HandlerResponse::Unhandled; // a handler's own answer
            }
            res.set_content("ERR " + ReasonFor(res.status), kText);
            return httplib::Server::HandlerResponse::Handled;
        }));
    http.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
            res.status = 500;
            res.set_content("ERR Internal error", kText);
        });
    if (options.AccessLog) {
        std::ostream* log = options.AccessLog;
        auto logMutex = std::make_shared<std::mutex>();
        http.set_logger([log, logMutex](const httplib::Request& req, const httplib::Response& res) {
            // The path only: the query carries the account's password.
            std::string line = req.remote_addr + " \"" + req.method + ' ' + Printable(req.path);
            const std::string action = req.get_param_value("action");
            if (!action.empty() && IsPlainWord(action)) {
                line += "?action=" + action;
            }
            line += "\" " + std::to_string(res.status) + ' ' + std::to_string(res.body.size());
            std::lock_guard lock(*logMutex);
            *log << line << std::endl;
        });
    }
}

HttpFrontEnd::~HttpFrontEnd() {
    Stop();
}

std::uint16_t HttpFrontEnd::Bind(const std::string& host, std::uint16_t port) {
    int bound = 0;
    if (port == 0) {
        bound = server_->bind_to_any_port(host);
    } else if (server_->bind_to_port(host, port)) {
        bound = port;
    }
    if (bound <= 0 || !server_->WidenBacklog()) {
        return 0;
    }
    return static_cast<std::uint16_t>(bound);
}

bool HttpFrontEnd::Run() {
    runEntered_ = true;
    if (stopRequested_) {
        runFinished_ = true;
        return true;
    }
    const bool served = server_->listen_after_bind();
    runFinished_ = true;
    return served;
}

void HttpFrontEnd::Start() {
    thread_ = std::thread([this] { Run(); });
}

void HttpFrontEnd::Stop() {
    stopRequested_ = true;
    if (runEntered_) {
        // The library ignores a stop that comes before its loop runs; wait for the loop.
        while (!runFinished_ && !server_->is_running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        server_->stop();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

} // namespace server
