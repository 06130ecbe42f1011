#include "server/MetricsListener.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>

namespace server {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = net::ip::tcp;

namespace {

// A scrape reads a few kilobytes: a connection that takes longer is cut off.
constexpr std::chrono::seconds kConnectionTime{5};

class Scrape : public std::enable_shared_from_this<Scrape> {
public:
    Scrape(tcp::socket socket, const Metrics& metrics)
        : stream_(std::move(socket)), metrics_(metrics) {}

    void Start() {
        stream_.expires_after(kConnectionTime);
        parser_.header_limit(8 * 1024);
        parser_.body_limit(0);
        http::async_read(stream_, buffer_, parser_,
                         [self = shared_from_this()](beast::error_code ec, std::size_t) {
                             self->OnRequest(ec);
                         });
    }

private:
    void OnRequest(beast::error_code ec) {
        if (ec) {
            beast::error_code ignored;
            stream_.socket().close(ignored);
            return;
        }
        const auto& request = parser_.get();
        const std::string_view target(request.target().data(), request.target().size());
        const bool get =
            request.method() == http::verb::get || request.method() == http::verb::head;
        response_.version(11);
        response_.set(http::field::connection, "close");
        if (target.substr(0, target.find('?')) != kMetricsPath) {
            response_.result(http::status::not_found);
            response_.set(http::field::content_type, "text/plain; charset=utf-8");
            response_.body() = "Not found\n";
        } else if (!get) {
            response_.result(http::status::method_not_allowed);
            response_.set(http::field::allow, "GET, HEAD");
            response_.set(http::field::content_type, "text/plain; charset=utf-8");
            response_.body() = "Method not allowed\n";
        } else {
            response_.result(http::status::ok);
            response_.set(http::field::content_type, "text/plain; version=0.0.4; charset=utf-8");
            response_.body() = metrics_.Text();
        }
        response_.prepare_payload();
        if (request.method() == http::verb::head) {
            response_.body().clear(); // the length stays that of the body not sent
        }
        http::async_write(stream_, response_,
                          [self = shared_from_this()](beast::error_code, std::size_t) {
                              beast::error_code ignored;
                              self->stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
                              self->stream_.socket().close(ignored);
                          });
    }

    beast::tcp_stream stream_;
    const Metrics& metrics_;
    beast::flat_buffer buffer_;
    http::request_parser<http::empty_body> parser_;
    http::response<http::string_body> response_;
};

} // namespace

class MetricsListener::Impl {
public:
    explicit Impl(const Metrics& metrics) : metrics_(metrics), acceptor_(context_) {}

    std::uint16_t Bind(const std::string& host, std::uint16_t port) {
        beast::error_code ec;
        tcp::resolver resolver(context_);
        const auto found =
            resolver.resolve(host, std::to_string(port),
                             tcp::resolver::passive | tcp::resolver::numeric_service, ec);
        if (ec || found.empty()) {
            return 0;
        }
        const tcp::endpoint endpoint = found.begin()->endpoint();
        acceptor_.open(endpoint.protocol(), ec);
        if (!ec) {
            acceptor_.set_option(net::socket_base::reuse_address(true), ec);
        }
        if (!ec && endpoint.address().is_v6()) {
            acceptor_.set_option(net::ip::v6_only(false), ec);
        }
        if (!ec) {
            acceptor_.bind(endpoint, ec);
        }
        if (!ec) {
            acceptor_.listen(net::socket_base::max_listen_connections, ec);
        }
        const std::uint16_t bound = ec ? 0 : acceptor_.local_endpoint(ec).port();
        return ec ? 0 : bound;
    }

    void Run() {
        if (!acceptor_.is_open()) {
            return;
        }
        Accept();
        context_.run();
    }

    void Stop() {
        net::post(context_, [this] {
            beast::error_code ignored;
            acceptor_.close(ignored);
            context_.stop(); // a scrape under way is cut off: it is only read
        });
    }

private:
    void Accept() {
        acceptor_.async_accept([this](beast::error_code ec, tcp::socket socket) {
            if (!acceptor_.is_open()) {
                return;
            }
            if (ec) {
                // Out of descriptors or memory: pause rather than spin on the same failure.
                backOff_.expires_after(std::chrono::milliseconds(50));
                backOff_.async_wait([this](beast::error_code) { Accept(); });
                return;
            }
            std::make_shared<Scrape>(std::move(socket), metrics_)->Start();
            Accept();
        });
    }

    const Metrics& metrics_;
    net::io_context context_{1};
    tcp::acceptor acceptor_;
    net::steady_timer backOff_{context_};
};

MetricsListener::MetricsListener(const Metrics& metrics) : impl_(std::make_unique<Impl>(metrics)) {}

MetricsListener::~MetricsListener() {
    Stop();
}

std::uint16_t MetricsListener::Bind(const std::string& host, std::uint16_t port) {
    return impl_->Bind(host, port);
}

void MetricsListener::Start() {
    thread_ = std::thread([this] { impl_->Run(); });
}

void MetricsListener::Stop() {
    impl_->Stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

} // namespace server
