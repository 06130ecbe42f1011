#pragma once
// One connection of the front end: read one request head (and a form's body) within the
// limits, have the reply made off the event loop, send it with "Connection: close", close.
// The stream is a template parameter so that the same session serves plain TCP and streams
// layered on it; StreamSteps says how a kind of stream starts and ends. Each step has a
// deadline, which the front end's deadline round enforces (ConnectionTable::ExpireOverdue).

#include "server/ConnectionTable.h"
#include "server/Health.h"
#include "server/HttpLimits.h"
#include "server/HttpRoutes.h"

#include <array>
#include <atomic>
#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace server {

namespace beast = boost::beast;
namespace http = boost::beast::http;

// What a session needs from the front end; outlives every session.
struct SessionContext {
    HttpLimits Limits;
    HttpRoutes* Routes = nullptr;
    boost::asio::thread_pool* Workers = nullptr;
    std::function<void(const HttpRequestInfo&, const HttpReply&)> Log; // may be empty
};

// Plain TCP: nothing to do before the first byte or after the last.
template <class Stream> struct StreamSteps {
    template <class Done> static void Begin(Stream&, Done&& done) { done(beast::error_code{}); }
    template <class Done> static void End(Stream&, Done&& done) { done(beast::error_code{}); }
};

template <class Stream>
class HttpSession : public SessionControl,
                    public std::enable_shared_from_this<HttpSession<Stream>> {
public:
    HttpSession(Stream stream, const SessionContext& context, ConnectionTable::Ticket ticket,
                std::string peer)
        : stream_(std::move(stream)), context_(context), ticket_(std::move(ticket)),
          peer_(std::move(peer)), buffer_(context.Limits.MaxHeadBytes) {}

    // Reads the request and replies to it.
    void Start() {
        ticket_.Attach(this->weak_from_this());
        SetDeadline(context_.Limits.HeadTimeout);
        StreamSteps<Stream>::Begin(stream_,
                                   [self = this->shared_from_this()](beast::error_code ec) {
                                       if (ec) {
                                           return self->Close();
                                       }
                                       self->ReadHead();
                                   });
    }

    // Over its address's connection cap: the request is read, within the time a refusal has,
    // and only a health probe is answered; anything else is refused as Refuse would.
    void StartForProbesOnly() {
        probesOnly_ = true;
        Start();
        SetDeadline(kProbesOnlyTime);
    }

    // Tells the client it was refused (the connection caps), without reading its request.
    void Refuse(int status) {
        ticket_.Attach(this->weak_from_this());
        replying_ = true;
        SetDeadline(std::chrono::seconds(2));
        StreamSteps<Stream>::Begin(stream_,
                                   [self = this->shared_from_this(), status](beast::error_code ec) {
                                       if (ec) {
                                           return self->Close();
                                       }
                                       self->Send(FailureReply(status), false, true);
                                   });
    }

    void Abort() override {
        boost::asio::post(stream_.get_executor(), [self = this->shared_from_this()] {
            if (!self->replying_) {
                self->Close();
            }
        });
    }

    bool Overdue(Clock::time_point now) const override {
        return now.time_since_epoch().count() >= deadline_.load(std::memory_order_relaxed);
    }

    // Closing the socket ends the step under way with an error, and that step closes too.
    void Expire() override {
        boost::asio::post(stream_.get_executor(),
                          [self = this->shared_from_this()] { self->Close(); });
    }

private:
    auto& Socket() { return beast::get_lowest_layer(stream_); }

    void SetDeadline(Clock::duration allowed) {
        deadline_.store((Clock::now() + allowed).time_since_epoch().count(),
                        std::memory_order_relaxed);
    }

    // A parse error, as opposed to the client going away or the deadline passing.
    static bool IsMalformed(beast::error_code ec) {
        return ec &&
               ec.category() == http::make_error_code(http::error::end_of_stream).category() &&
               ec != http::error::end_of_stream && ec != http::error::partial_message;
    }

    void ReadHead() {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(context_.Limits.MaxHeadBytes));
        parser_->body_limit(context_.Limits.MaxBodyBytes);
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = this->shared_from_this()](
                                    beast::error_code ec, std::size_t) { self->OnHead(ec); });
    }

    void OnHead(beast::error_code ec) {
        if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
            return Fail(RequestLineTooLong() ? 414 : 431);
        }
        if (ec == http::error::body_limit) {
            return Fail(413); // the announced length is too much already
        }
        if (IsMalformed(ec)) {
            return Fail(400); // not HTTP
        }
        if (ec) {
            return Close(); // the deadline passed, or the client went away
        }
        const auto& request = parser_->get();
        if (request.target().size() > context_.Limits.MaxTargetBytes) {
            return Fail(414);
        }
        if (request.version() != 10 && request.version() != 11) {
            return Fail(505);
        }
        if (probesOnly_ &&
            (!parser_->is_done() ||
             !IsProbeTarget(std::string_view(request.target().data(), request.target().size())))) {
            return Fail(503); // over the address's cap, only a probe (with no body) is heard
        }
        if (parser_->is_done()) {
            return Dispatch();
        }
        SetDeadline(context_.Limits.ReplyTimeout);
        http::async_read(
            stream_, buffer_, *parser_,
            [self = this->shared_from_this()](beast::error_code bodyError, std::size_t) {
                self->OnBody(bodyError);
            });
    }

    void OnBody(beast::error_code ec) {
        if (ec == http::error::body_limit) {
            return Fail(413);
        }
        if (IsMalformed(ec)) {
            return Fail(400);
        }
        if (ec) {
            return Close();
        }
        Dispatch();
    }

    // Whether the head overflowed within its first line: then the target is what is too long.
    // A request line once read is taken out of the buffer and kept in the message.
    bool RequestLineTooLong() const {
        const auto target = parser_->get().target();
        if (!target.empty()) {
            return target.size() > context_.Limits.MaxTargetBytes;
        }
        const auto data = buffer_.cdata();
        const std::string_view text(static_cast<const char*>(data.data()), data.size());
        const auto end = text.find("\r\n");
        const std::size_t lineLength = end == std::string_view::npos ? text.size() : end;
        return lineLength > context_.Limits.MaxTargetBytes;
    }

    void Dispatch() {
        replying_ = true;
        SetDeadline(context_.Limits.ReplyTimeout); // the head's deadline ended with the head
        auto& request = parser_->get();
        request_.Method = std::string(request.method_string());
        request_.Target = std::string(request.target());
        request_.ContentType = std::string(request[http::field::content_type]);
        request_.Body = std::move(request.body());
        request_.Peer = peer_;
        request_.Received = std::chrono::steady_clock::now();
        leftovers_ = buffer_.size() > 0;
        parser_.reset();
        buffer_.consume(buffer_.size());
        QuickReply<HttpReply> quick = ReplyOnWorker{};
        try {
            quick = context_.Routes->ReplyQuickly(
                request_, [self = this->shared_from_this()](QueuedReply<HttpReply> later) {
                    if (std::holds_alternative<ReplyOnWorker>(later)) {
                        return self->ReplyFromWorker();
                    }
                    self->PostReply(std::get<HttpReply>(std::move(later)));
                });
        } catch (const std::exception&) {
            quick = FailureReply(500);
        }
        if (auto* reply = std::get_if<HttpReply>(&quick)) {
            Log(*reply);
            SendReply(std::move(*reply));
        } else if (std::holds_alternative<ReplyOnWorker>(quick)) {
            ReplyFromWorker();
        } // else the writing thread replies once the change is committed
    }

    // Database work and hash checks wait on a worker, never on the connection's thread.
    void ReplyFromWorker() {
        boost::asio::post(*context_.Workers, [self = this->shared_from_this()]() mutable {
            HttpReply reply;
            try {
                reply = self->context_.Routes->ReplyTo(self->request_);
            } catch (const std::exception&) {
                reply = FailureReply(500);
            }
            self->PostReply(std::move(reply));
        });
    }

    // From a worker or the writing thread: logged there, sent on the connection's own loop.
    void PostReply(HttpReply reply) {
        Log(reply);
        boost::asio::post(stream_.get_executor(),
                          [self = this->shared_from_this(), reply = std::move(reply)]() mutable {
                              self->SendReply(std::move(reply));
                          });
    }

    void Log(const HttpReply& reply) {
        if (context_.Log) {
            context_.Log(request_, reply);
        }
    }

    void SendReply(HttpReply reply) {
        Send(std::move(reply), request_.Method == "HEAD", leftovers_);
    }

    // Replies to a request that could not be read whole, then lets the client's rest drain.
    void Fail(int status) {
        replying_ = true;
        parser_.reset();
        buffer_.consume(buffer_.size());
        Send(FailureReply(status), false, true);
    }

    void Send(HttpReply reply, bool headOnly, bool drainAfter) {
        if (reply.SharedBody) {
            return SendShared(std::move(reply), headOnly, drainAfter);
        }
        response_.emplace();
        FillHead(*response_, reply, reply.Body.size());
        if (!headOnly) {
            response_->body() = std::move(reply.Body);
        }
        Write(*response_, drainAfter);
    }

    // The body stays where it is, shared, and goes out in the pieces the socket takes.
    void SendShared(HttpReply reply, bool headOnly, bool drainAfter) {
        sharedBody_ = std::move(reply.SharedBody);
        sharedResponse_.emplace();
        FillHead(*sharedResponse_, reply, sharedBody_->size());
        if (!headOnly) {
            sharedResponse_->body() = {sharedBody_->data(), sharedBody_->size()};
        }
        Write(*sharedResponse_, drainAfter);
    }

    template <class Response>
    static void FillHead(Response& response, const HttpReply& reply, std::size_t length) {
        response.version(11);
        response.result(static_cast<unsigned>(reply.Status));
        const std::string_view reason = ReasonFor(reply.Status);
        response.reason(beast::string_view(reason.data(), reason.size()));
        response.set(http::field::content_type, reply.ContentType);
        for (const auto& [name, value] : reply.Headers) {
            response.set(name, value);
        }
        response.set(http::field::connection, "close");
        response.content_length(length);
    }

    // A large reply (the update package) may take longer than the reply's deadline to reach
    // a client on a slow link: every kSteadyProgressBytes that go out renew the deadline, so
    // a slow but steady download completes while a trickle is still cut off.
    template <class Response> void Write(Response& response, bool drainAfter) {
        SetDeadline(context_.Limits.ReplyTimeout);
        sentSinceDeadline_ = 0;
        WriteSome(
            std::make_shared<http::response_serializer<typename Response::body_type>>(response),
            drainAfter);
    }

    template <class Serializer>
    void WriteSome(std::shared_ptr<Serializer> serializer, bool drainAfter) {
        http::async_write_some(stream_, *serializer,
                               [self = this->shared_from_this(), serializer,
                                drainAfter](beast::error_code ec, std::size_t written) mutable {
                                   if (!ec && !serializer->is_done()) {
                                       self->CountProgress(written);
                                       return self->WriteSome(std::move(serializer), drainAfter);
                                   }
                                   serializer.reset(); // before the message it refers to
                                   self->response_.reset();
                                   self->sharedResponse_.reset();
                                   self->sharedBody_.reset();
                                   if (ec) {
                                       return self->Close();
                                   }
                                   self->Finish(drainAfter);
                               });
    }

    void CountProgress(std::size_t written) {
        sentSinceDeadline_ += written;
        if (sentSinceDeadline_ >= kSteadyProgressBytes) {
            sentSinceDeadline_ = 0;
            SetDeadline(context_.Limits.ReplyTimeout);
        }
    }

    // After the reply. When the client may still be sending, closing at once would reset
    // the connection and could throw the reply away before the client read it; so the
    // sending side is shut and what still comes is read and dropped, for a short while.
    void Finish(bool drain) {
        StreamSteps<Stream>::End(
            stream_, [self = this->shared_from_this(), drain](beast::error_code) {
                if (!drain) {
                    return self->Close();
                }
                beast::error_code ignored;
                self->Socket().socket().shutdown(boost::asio::socket_base::shutdown_send, ignored);
                self->SetDeadline(std::chrono::seconds(1));
                self->drained_ = 0;
                self->Drain();
            });
    }

    void Drain() {
        Socket().async_read_some(
            boost::asio::buffer(drainBuffer_),
            [self = this->shared_from_this()](beast::error_code ec, std::size_t read) {
                self->drained_ += read;
                if (ec || self->drained_ > kMaxDrained) {
                    return self->Close();
                }
                self->Drain();
            });
    }

    // The reply, if any, is out; with nothing unread left, the close sends it on with the
    // end of the stream. Safe to call again.
    void Close() { Socket().close(); }

    static constexpr std::size_t kMaxDrained = 256 * 1024;
    static constexpr std::size_t kSteadyProgressBytes = 64 * 1024;
    static constexpr std::chrono::seconds kProbesOnlyTime{2};

    Stream stream_;
    const SessionContext& context_;
    ConnectionTable::Ticket ticket_;
    std::string peer_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::optional<http::response<http::string_body>> response_;
    std::optional<http::response<http::span_body<const char>>> sharedResponse_;
    std::shared_ptr<const std::string> sharedBody_;
    std::array<char, 4096> drainBuffer_{};
    std::size_t drained_ = 0;
    std::size_t sentSinceDeadline_ = 0;
    // The current step's deadline, in Clock ticks: written on the connection's loop, read by
    // the deadline round.
    std::atomic<Clock::rep> deadline_{Clock::duration::max().count()};
    bool replying_ = false;
    bool probesOnly_ = false;
    HttpRequestInfo request_; // once read whole; then only read, by whichever thread replies
    bool leftovers_ = false;  // the client sent more than its request
};

} // namespace server
