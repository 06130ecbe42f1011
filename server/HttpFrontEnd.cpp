#include "server/HttpFrontEnd.h"

#include "server/AddressGroup.h"
#include "server/ConnectionTable.h"
#include "server/Health.h"
#include "server/HttpRoutes.h"
#include "server/HttpSession.h"
#include "server/Journal.h"
#include "server/TlsContext.h"

#include <algorithm>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/steady_timer.hpp>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <sys/socket.h>
#include <vector>

namespace server {

namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

// How long a stop waits for the replies under way before it cuts them off.
constexpr std::chrono::seconds kStopGrace{5};
// How long accepting pauses when the system has no descriptor left for a new connection.
constexpr std::chrono::milliseconds kAcceptBackOff{50};
// How often the deadlines are checked: a connection past its deadline is closed within this.
constexpr std::chrono::milliseconds kDeadlineRound{100};
// How often each loop shows that it still runs its handlers.
constexpr std::chrono::milliseconds kBeatRound{100};

// One listening socket of one I/O loop, and the address of the client it accepts next.
struct Listener {
    tcp::acceptor Acceptor;
    bool Secure = false;
    tcp::endpoint Peer;
};

// An I/O thread's event loop with a listening socket of its own for every bound address:
// the system hands each new connection to one of them, so a connection lives on the loop
// that accepted it and no loop ever hands work to another.
struct Loop {
    net::io_context Context{1};
    std::vector<std::unique_ptr<Listener>> Listeners;
    std::optional<net::steady_timer> Beat;
    std::atomic<std::uint64_t> Beats{0};
};

} // namespace

class HttpFrontEnd::Impl {
public:
    Impl(StorageEngine& storage, ServiceActions& actions, FrontEndOptions options)
        : reports_(actions.Reports()), options_(options),
          routes_(storage, actions, RouteOptions{options.SignupOpen, options.ReadinessKept}),
          table_(options.Limits.MaxConnections, options.Limits.MaxConnectionsPerAddress),
          workers_(static_cast<std::size_t>(std::max(1, options.Threads))) {
        for (int i = 0; i < std::max(1, options.IoThreads); ++i) {
            loops_.push_back(std::make_unique<Loop>());
            loops_.back()->Beat.emplace(loops_.back()->Context);
        }
        deadlineRound_.emplace(First().Context);
        stopTimer_.emplace(First().Context);
        context_.Limits = options.Limits;
        context_.Routes = &routes_;
        context_.Workers = &workers_;
        {
            context_.Log = [this](const HttpRequestInfo& request, const HttpReply& reply) {
                served_.fetch_add(1, std::memory_order_relaxed);
                if (options_.Counted) {
                    Count(request, reply);
                }
                if (!options_.AccessLog || IsProbeTarget(request.Target)) {
                    return; // a prober's every second would drown the lines that matter
                }
                if (options_.AccessLogToJournal) {
                    SendToJournal(AccessEntry(request, reply));
                    return;
                }
                const std::string line = AccessLogLine(request, reply);
                std::lock_guard lock(logMutex_);
                *options_.AccessLog << line << std::endl;
            };
        }
        if (options.Counted) {
            options.Counted->OpenConnectionsFrom([this] { return table_.Count(); });
        }
    }

    ~Impl() {
        if (options_.Counted) {
            options_.Counted->OpenConnectionsFrom({});
        }
        reports_.WaitUntilIdle(); // nothing may post to a loop once it is gone
        workers_.join();          // replies under way finish before their sessions go
    }

    Result<void> UseCertificate(const std::string& chain, const std::string& key) {
        auto context = MakeTlsContext(chain, key);
        if (!context) {
            std::lock_guard lock(tlsMutex_);
            tls_.reset(); // no secure socket serves with what was refused
            return context.Failure();
        }
        std::shared_ptr<net::ssl::context> fresh = std::move(context).Value();
        std::lock_guard lock(tlsMutex_);
        tls_ = std::move(fresh);
        return {};
    }

    Result<void> ReplaceCertificate(const std::string& chain, const std::string& key) {
        auto context = MakeTlsContext(chain, key);
        if (!context) {
            return context.Failure();
        }
        std::shared_ptr<net::ssl::context> fresh = std::move(context).Value();
        std::lock_guard lock(tlsMutex_);
        tls_ = std::move(fresh);
        return {};
    }

    std::uint16_t Bind(const std::string& host, std::uint16_t port, bool secure) {
        if (secure && !CurrentTls()) {
            return 0;
        }
        beast::error_code ec;
        tcp::resolver resolver(First().Context);
        const auto found =
            resolver.resolve(host, std::to_string(port),
                             tcp::resolver::passive | tcp::resolver::numeric_service, ec);
        if (ec || found.empty()) {
            return 0;
        }
        tcp::endpoint endpoint = found.begin()->endpoint();
        // The first socket takes the port (a free one for port 0); the other loops' sockets
        // join it there.
        std::vector<std::unique_ptr<Listener>> bound;
        for (auto& loop : loops_) {
            const PortUse use = loops_.size() == 1 ? PortUse::Alone
                                : bound.empty()    ? PortUse::TakeAndShare
                                                   : PortUse::JoinTheFirst;
            auto listener = Listen(loop->Context, endpoint, use, ec);
            if (!listener) {
                return 0;
            }
            listener->Secure = secure;
            endpoint.port(listener->Acceptor.local_endpoint(ec).port());
            if (ec) {
                return 0;
            }
            bound.push_back(std::move(listener));
        }
        for (std::size_t i = 0; i < loops_.size(); ++i) {
            loops_[i]->Listeners.push_back(std::move(bound[i]));
        }
        return endpoint.port();
    }

    bool Run(std::function<void()> whenServing) {
        if (First().Listeners.empty()) {
            return false;
        }
        if (stopRequested_) {
            return true;
        }
        for (auto& loop : loops_) {
            for (auto& listener : loop->Listeners) {
                Accept(*listener);
            }
        }
        CheckDeadlines();
        for (auto& loop : loops_) {
            KeepBeating(*loop, loop.get() == loops_.back().get());
        }
        if (whenServing) {
            // Runs once the first loop runs: by then every socket listens and waits to accept.
            net::post(First().Context, std::move(whenServing));
        }
        // One loop per I/O thread, each with connections of its own: no locks between them
        // and no strand per connection. The others are kept running until the stop has let
        // every session end.
        std::vector<std::thread> others;
        std::vector<net::executor_work_guard<net::io_context::executor_type>> keepRunning;
        for (std::size_t i = 1; i < loops_.size(); ++i) {
            keepRunning.push_back(net::make_work_guard(loops_[i]->Context));
            others.emplace_back([&context = loops_[i]->Context] { context.run(); });
        }
        First().Context.run();
        // The first loop ends once the stop found no connection left (or its grace ran out);
        // one accepted elsewhere while it looked has no deadline round any more, so the other
        // loops end now rather than wait for it.
        for (std::size_t i = 1; i < loops_.size(); ++i) {
            loops_[i]->Context.stop();
        }
        keepRunning.clear();
        for (std::thread& thread : others) {
            thread.join();
        }
        return true;
    }

    void Stop() {
        if (stopRequested_.exchange(true)) {
            return;
        }
        for (auto& loop : loops_) {
            net::post(loop->Context, [&loop = *loop] {
                for (auto& listener : loop.Listeners) {
                    beast::error_code ignored;
                    listener->Acceptor.close(ignored);
                }
            });
        }
        net::post(First().Context, [this] {
            table_.AbortAll();
            WaitUntilQuiet(std::chrono::steady_clock::now() + kStopGrace);
        });
    }

    std::size_t OpenConnections() { return table_.Count(); }
    std::uint64_t RequestsServed() const { return served_.load(std::memory_order_relaxed); }
    std::vector<std::uint64_t> LoopProgress() const {
        std::vector<std::uint64_t> beats;
        for (const auto& loop : loops_) {
            beats.push_back(loop->Beats.load(std::memory_order_relaxed));
        }
        return beats;
    }

private:
    Loop& First() { return *loops_.front(); }

    // A success is a reply that is neither an HTTP failure nor a service failure ("ERR ...").
    void Count(const HttpRequestInfo& request, const HttpReply& reply) {
        const bool failed = reply.Status >= 400 || reply.Body.rfind("ERR", 0) == 0;
        options_.Counted->CountRequest(RequestKind(request.Target), !failed,
                                       std::chrono::steady_clock::now() - request.Received);
    }

    // How a listening socket comes by its port.
    enum class PortUse {
        Alone,        // the only loop's
        TakeAndShare, // the first of several: takes the port as the only one, then shares it
        JoinTheFirst, // another loop's: joins the first on its port
    };

    // Binding before sharing makes a port that any other socket holds fail, even one that is
    // shared (another copy of the service, say): only the loops of this one share it.
    static std::unique_ptr<Listener> Listen(net::io_context& context, const tcp::endpoint& endpoint,
                                            PortUse use, beast::error_code& ec) {
        auto listener = std::make_unique<Listener>(Listener{tcp::acceptor(context), false, {}});
        tcp::acceptor& acceptor = listener->Acceptor;
        acceptor.open(endpoint.protocol(), ec);
        if (!ec) {
            acceptor.set_option(net::socket_base::reuse_address(true), ec);
        }
        if (!ec && endpoint.address().is_v6()) {
            // "::" takes IPv4 clients as well, as the system's own default would.
            acceptor.set_option(net::ip::v6_only(false), ec);
        }
        if (!ec && use == PortUse::JoinTheFirst) {
            SharePort(acceptor, ec);
        }
        if (!ec) {
            acceptor.bind(endpoint, ec);
        }
        if (!ec && use == PortUse::TakeAndShare) {
            SharePort(acceptor, ec);
        }
        if (!ec) {
            acceptor.listen(net::socket_base::max_listen_connections, ec);
        }
        return ec ? nullptr : std::move(listener);
    }

    // Sockets that share a port (only the same user's can) each get a part of the new
    // connections from the system.
    static void SharePort(tcp::acceptor& acceptor, beast::error_code& ec) {
        const int on = 1;
        if (setsockopt(acceptor.native_handle(), SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0) {
            ec.assign(errno, boost::system::system_category());
        }
    }

    void Accept(Listener& listener) {
        listener.Acceptor.async_accept(listener.Peer, [this, &listener](beast::error_code ec,
                                                                        tcp::socket socket) {
            if (stopRequested_ || !listener.Acceptor.is_open()) {
                return;
            }
            if (ec) {
                // Out of descriptors or memory: pause rather than spin on the same failure.
                auto timer = std::make_shared<net::steady_timer>(listener.Acceptor.get_executor(),
                                                                 kAcceptBackOff);
                timer->async_wait([this, &listener, timer](beast::error_code) {
                    if (!stopRequested_) {
                        Accept(listener);
                    }
                });
                return;
            }
            if (listener.Secure) {
                Admit<TlsTcpStream>(std::move(socket), listener.Peer);
            } else {
                Admit<beast::tcp_stream>(std::move(socket), listener.Peer);
            }
            Accept(listener);
        });
    }

    std::shared_ptr<net::ssl::context> CurrentTls() {
        std::lock_guard lock(tlsMutex_);
        return tls_;
    }

    template <class Stream> Stream Wrap(tcp::socket socket) {
        if constexpr (std::is_same_v<Stream, TlsTcpStream>) {
            // The stream's own TLS state holds a reference to the context's certificate and
            // key, so a context replaced meanwhile stays alive for it.
            const std::shared_ptr<net::ssl::context> tls = CurrentTls();
            return Stream(beast::tcp_stream(std::move(socket)), *tls);
        } else {
            return Stream(std::move(socket));
        }
    }

    // On the loop that accepted the connection, which alone touches the session from then on.
    template <class Stream> void Admit(tcp::socket socket, const tcp::endpoint& remote) {
        std::string peer = NormalizePeerAddress(remote.address().to_string());
        using Session = HttpSession<Stream>;
        Admission why = Admission::Admitted;
        auto ticket = table_.Admit(AddressGroup(peer), why);
        if (ticket) {
            std::make_shared<Session>(Wrap<Stream>(std::move(socket)), context_, std::move(*ticket),
                                      std::move(peer))
                ->Start();
            return;
        }
        if (options_.Counted) {
            options_.Counted->CountRefused(why == Admission::TooManyFromAddress
                                               ? RefusedBy::ConnectionsPerAddress
                                               : RefusedBy::ConnectionsInAll);
        }
        if (why == Admission::TooManyFromAddress) {
            // A prober may share its address with the clients that fill the cap: it is still
            // heard, in a place of the capped refusals, and anything but a probe is refused.
            if (auto refusal = table_.AdmitRefusal()) {
                std::make_shared<Session>(Wrap<Stream>(std::move(socket)), context_,
                                          std::move(*refusal), std::move(peer))
                    ->StartForProbesOnly();
            }
        } else if (auto refusal = table_.AdmitRefusal()) {
            std::make_shared<Session>(Wrap<Stream>(std::move(socket)), context_,
                                      std::move(*refusal), std::move(peer))
                ->Refuse(503);
        } // else closed at once: even refusals are capped
    }

    // Every round, on the first loop, until the stop has let every session end.
    void CheckDeadlines() {
        deadlineRound_->expires_after(kDeadlineRound);
        deadlineRound_->async_wait([this](beast::error_code ec) {
            // A round that had come due as the stop found everything quiet must not arm the
            // next one: the loop would never run out of work, and the stop never return.
            if (ec || roundsOver_) {
                return;
            }
            table_.ExpireOverdue(SessionControl::Clock::now());
            CheckDeadlines();
        });
    }

    // A count of the loop's own, moved by a handler of the loop: it stands still when the loop
    // is stuck in one handler. Ends on the first loop with the deadline rounds; the others are
    // stopped.
    void KeepBeating(Loop& loop, bool mayStallForTests) {
        loop.Beat->expires_after(kBeatRound);
        loop.Beat->async_wait([this, &loop, mayStallForTests](beast::error_code ec) {
            if (ec || (&loop == &First() && roundsOver_)) {
                return;
            }
            if (mayStallForTests) {
                StallWhileAskedForTests();
            }
            loop.Beats.fetch_add(1, std::memory_order_relaxed);
            KeepBeating(loop, mayStallForTests);
        });
    }

    void StallWhileAskedForTests() {
        if (options_.StallFileForTests.empty()) {
            return;
        }
        std::error_code ec;
        while (!stopRequested_ && std::filesystem::exists(options_.StallFileForTests, ec)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    void WaitUntilQuiet(std::chrono::steady_clock::time_point deadline) {
        if (table_.Count() == 0) {
            // Nothing left: the loops run out of work and Run() returns.
            roundsOver_ = true;
            deadlineRound_->cancel();
            First().Beat->cancel();
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            for (auto& loop : loops_) {
                loop->Context.stop();
            }
            return;
        }
        stopTimer_->expires_after(std::chrono::milliseconds(20));
        stopTimer_->async_wait([this, deadline](beast::error_code) { WaitUntilQuiet(deadline); });
    }

    // Declared before the loops: sessions still queued in them are destroyed with them, and
    // they give their tickets back to the table and use the context until then.
    ReportWriter& reports_;
    FrontEndOptions options_;
    HttpRoutes routes_;
    ConnectionTable table_;
    SessionContext context_;
    std::mutex logMutex_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<std::uint64_t> served_{0};

    std::vector<std::unique_ptr<Loop>> loops_; // the first runs on the thread that calls Run()
    std::optional<net::steady_timer> deadlineRound_;
    bool roundsOver_ = false; // on the first loop only
    std::optional<net::steady_timer> stopTimer_;
    net::thread_pool workers_;
    std::mutex tlsMutex_;
    std::shared_ptr<net::ssl::context> tls_; // replaced whole, never changed in place
};

HttpFrontEnd::HttpFrontEnd(StorageEngine& storage, ServiceActions& actions, FrontEndOptions options)
    : impl_(std::make_unique<Impl>(storage, actions, options)) {}

HttpFrontEnd::~HttpFrontEnd() {
    Stop();
}

std::uint16_t HttpFrontEnd::Bind(const std::string& host, std::uint16_t port, bool secure) {
    return impl_->Bind(host, port, secure);
}

Result<void> HttpFrontEnd::UseCertificate(const std::string& chain, const std::string& key) {
    return impl_->UseCertificate(chain, key);
}

Result<void> HttpFrontEnd::ReplaceCertificate(const std::string& chain, const std::string& key) {
    return impl_->ReplaceCertificate(chain, key);
}

bool HttpFrontEnd::Run(std::function<void()> whenServing) {
    return impl_->Run(std::move(whenServing));
}

void HttpFrontEnd::Start() {
    thread_ = std::thread([this] { impl_->Run({}); });
}

void HttpFrontEnd::Stop() {
    impl_->Stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::size_t HttpFrontEnd::OpenConnections() const {
    return impl_->OpenConnections();
}

std::uint64_t HttpFrontEnd::RequestsServed() const {
    return impl_->RequestsServed();
}

std::vector<std::uint64_t> HttpFrontEnd::LoopProgress() const {
    return impl_->LoopProgress();
}

} // namespace server
