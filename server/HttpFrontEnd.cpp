#include "server/HttpFrontEnd.h"

#include "server/AddressGroup.h"
#include "server/ConnectionTable.h"
#include "server/HttpRoutes.h"
#include "server/HttpSession.h"
#include "server/TlsListener.h"

#include <algorithm>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <mutex>
#include <vector>

namespace server {

namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

// How long a stop waits for the answers under way before it cuts them off.
constexpr std::chrono::seconds kStopGrace{5};
// How long accepting pauses when the system has no descriptor left for a new connection.
constexpr std::chrono::milliseconds kAcceptBackOff{50};

} // namespace

class HttpFrontEnd::Engine {
public:
    Engine(Storage& storage, ServiceActions& actions, FrontEndOptions options)
        : storage_(storage), options_(options),
          routes_(storage, actions, RouteOptions{options.SignupOpen}),
          table_(options.Limits.MaxConnections, options.Limits.MaxConnectionsPerAddress),
          workers_(static_cast<std::size_t>(std::max(1, options.Threads))), stopTimer_(io_) {
        for (int i = 1; i < std::max(1, options.IoThreads); ++i) {
            loops_.push_back(std::make_unique<net::io_context>(1));
        }
        context_.Limits = options.Limits;
        context_.Routes = &routes_;
        context_.Workers = &workers_;
        if (options.AccessLog) {
            context_.Log = [this](const HttpRequestInfo& request, const HttpAnswer& answer) {
                const std::string line = AccessLogLine(request, answer);
                std::lock_guard lock(logMutex_);
                *options_.AccessLog << line << std::endl;
            };
        }
    }

    ~Engine() {
        storage_.WaitForQueuedReports(); // nothing may post to a loop once it is gone
        workers_.join();                 // answers under way finish before their sessions go
    }

    bool UseCertificate(const std::string& chain, const std::string& key, std::string& error) {
        tls_ = MakeTlsContext(chain, key, error);
        return tls_ != nullptr;
    }

    std::uint16_t Bind(const std::string& host, std::uint16_t port, bool secure) {
        if (secure && !tls_) {
            return 0;
        }
        beast::error_code ec;
        tcp::resolver resolver(io_);
        const auto found =
            resolver.resolve(host, std::to_string(port),
                             tcp::resolver::passive | tcp::resolver::numeric_service, ec);
        if (ec || found.empty()) {
            return 0;
        }
        const tcp::endpoint endpoint = found.begin()->endpoint();
        auto acceptor = std::make_unique<tcp::acceptor>(io_);
        acceptor->open(endpoint.protocol(), ec);
        if (!ec) {
            acceptor->set_option(net::socket_base::reuse_address(true), ec);
        }
        if (!ec && endpoint.address().is_v6()) {
            // "::" takes IPv4 clients as well, as the system's own default would.
            acceptor->set_option(net::ip::v6_only(false), ec);
        }
        if (!ec) {
            acceptor->bind(endpoint, ec);
        }
        if (!ec) {
            acceptor->listen(net::socket_base::max_listen_connections, ec);
        }
        if (ec) {
            return 0;
        }
        const std::uint16_t bound = acceptor->local_endpoint(ec).port();
        if (ec) {
            return 0;
        }
        acceptors_.push_back(std::move(acceptor));
        secure_.push_back(secure);
        return bound;
    }

    bool Run() {
        if (acceptors_.empty()) {
            return false;
        }
        if (stopRequested_) {
            return true;
        }
        for (std::size_t i = 0; i < acceptors_.size(); ++i) {
            Accept(*acceptors_[i], secure_[i]);
        }
        // One loop per I/O thread, each with connections of its own: no locks between them
        // and no strand per connection. The first also accepts and hands the new connections
        // round. The others are kept running until the stop has let every session end.
        std::vector<std::thread> others;
        for (auto& loop : loops_) {
            keepRunning_.push_back(net::make_work_guard(*loop));
            others.emplace_back([&loop = *loop] { loop.run(); });
        }
        io_.run();
        for (auto& guard : keepRunning_) {
            guard.reset();
        }
        for (std::thread& thread : others) {
            thread.join();
        }
        return true;
    }

    void Stop() {
        if (stopRequested_.exchange(true)) {
            return;
        }
        net::post(io_, [this] {
            for (auto& acceptor : acceptors_) {
                beast::error_code ignored;
                acceptor->close(ignored);
            }
            table_.AbortAll();
            WaitUntilQuiet(std::chrono::steady_clock::now() + kStopGrace);
        });
    }

    std::size_t OpenConnections() { return table_.Count(); }

private:
    void Accept(tcp::acceptor& acceptor, bool secure) {
        acceptor.async_accept(
            NextLoop(), [this, &acceptor, secure](beast::error_code ec, tcp::socket socket) {
                if (stopRequested_ || !acceptor.is_open()) {
                    return;
                }
                if (ec) {
                    // Out of descriptors or memory: pause rather than spin on the same failure.
                    auto timer = std::make_shared<net::steady_timer>(io_, kAcceptBackOff);
                    timer->async_wait([this, &acceptor, secure, timer](beast::error_code) {
                        if (!stopRequested_) {
                            Accept(acceptor, secure);
                        }
                    });
                    return;
                }
                if (secure) {
                    Admit<TlsTcpStream>(std::move(socket));
                } else {
                    Admit<beast::tcp_stream>(std::move(socket));
                }
                Accept(acceptor, secure);
            });
    }

    net::io_context& NextLoop() {
        const std::size_t turn = nextLoop_++ % (loops_.size() + 1);
        return turn == 0 ? io_ : *loops_[turn - 1];
    }

    template <class Stream> Stream Wrap(tcp::socket socket) {
        if constexpr (std::is_same_v<Stream, TlsTcpStream>) {
            return Stream(beast::tcp_stream(std::move(socket)), *tls_);
        } else {
            return Stream(std::move(socket));
        }
    }

    template <class Stream> void Admit(tcp::socket socket) {
        beast::error_code ec;
        const tcp::endpoint remote = socket.remote_endpoint(ec);
        if (ec) {
            return;
        }
        std::string peer = NormalizePeerAddress(remote.address().to_string());
        using Session = HttpSession<Stream>;
        Admission why = Admission::Admitted;
        // Each session starts on its own connection's loop, which alone touches it from then on.
        const auto loop = socket.get_executor();
        if (auto ticket = table_.Admit(AddressGroup(peer), why)) {
            auto session = std::make_shared<Session>(Wrap<Stream>(std::move(socket)), context_,
                                                     std::move(*ticket), std::move(peer));
            net::post(loop, [session] { session->Start(); });
        } else if (auto refusal = table_.AdmitRefusal()) {
            auto session = std::make_shared<Session>(Wrap<Stream>(std::move(socket)), context_,
                                                     std::move(*refusal), std::move(peer));
            net::post(loop, [session] { session->Refuse(503); });
        } // else closed at once: even refusals are capped
    }

    void WaitUntilQuiet(std::chrono::steady_clock::time_point deadline) {
        if (table_.Count() == 0) {
            return; // nothing left: the loop runs out of work and Run() returns
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            io_.stop();
            for (auto& loop : loops_) {
                loop->stop();
            }
            return;
        }
        stopTimer_.expires_after(std::chrono::milliseconds(20));
        stopTimer_.async_wait([this, deadline](beast::error_code) { WaitUntilQuiet(deadline); });
    }

    // Declared before the loop: sessions still queued in it are destroyed with it, and they
    // give their tickets back to the table and use the context until then.
    Storage& storage_;
    FrontEndOptions options_;
    HttpRoutes routes_;
    ConnectionTable table_;
    SessionContext context_;
    std::mutex logMutex_;
    std::atomic<bool> stopRequested_{false};

    net::io_context io_{1};
    std::vector<std::unique_ptr<net::io_context>> loops_; // the I/O threads' beyond the first
    std::vector<net::executor_work_guard<net::io_context::executor_type>> keepRunning_;
    std::atomic<std::size_t> nextLoop_{0};
    net::thread_pool workers_;
    net::steady_timer stopTimer_;
    std::vector<std::unique_ptr<tcp::acceptor>> acceptors_;
    std::vector<bool> secure_; // beside each acceptor: whether it serves HTTPS
    std::unique_ptr<net::ssl::context> tls_;
};

HttpFrontEnd::HttpFrontEnd(Storage& storage, ServiceActions& actions, FrontEndOptions options)
    : engine_(std::make_unique<Engine>(storage, actions, options)) {}

HttpFrontEnd::~HttpFrontEnd() {
    Stop();
}

std::uint16_t HttpFrontEnd::Bind(const std::string& host, std::uint16_t port, bool secure) {
    return engine_->Bind(host, port, secure);
}

bool HttpFrontEnd::UseCertificate(const std::string& chain, const std::string& key,
                                  std::string& error) {
    return engine_->UseCertificate(chain, key, error);
}

bool HttpFrontEnd::Run() {
    return engine_->Run();
}

void HttpFrontEnd::Start() {
    thread_ = std::thread([this] { engine_->Run(); });
}

void HttpFrontEnd::Stop() {
    engine_->Stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::size_t HttpFrontEnd::OpenConnections() const {
    return engine_->OpenConnections();
}

} // namespace server
