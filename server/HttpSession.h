#pragma once
// One connection of the front end: read one request head (and a form's body) within the
// limits, have the answer made off the event loop, send it with "Connection: close", close.
// The stream is a template parameter so that the same session serves plain TCP and streams
// layered on it; StreamSteps says how a kind of stream starts and ends. Each step has a
// deadline, which the front end's deadline round enforces (ConnectionTable::ExpireOverdue).

#include "server/ConnectionTable.h"
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

namespace server {

namespace beast = boost::beast;
namespace http = boost::beast::http;

// What a session needs from the front end; outlives every session.
struct SessionContext {
    HttpLimits Limits;
    HttpRoutes* Routes = nullptr;
    boost::asio::thread_pool* Workers = nullptr;
    std::function<void(const HttpRequestInfo&, const HttpAnswer&)> Log; // may be empty
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

    // Reads and answers the request.
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

    // Tells the client it was refused (the connection caps), without reading its request.
    void Refuse(int status) {
        ticket_.Attach(this->weak_from_this());
        answering_ = true;
        SetDeadline(std::chrono::seconds(2));
        StreamSteps<Stream>::Begin(stream_,
                                   [self = this->shared_from_this(), status](beast::error_code ec) {
                                       if (ec) {
                                           return self->Close();
                                       }
                                       self->Send(FailureAnswer(status), false, true);
                                   });
    }

    void Abort() override {
        boost::asio::post(stream_.get_executor(), [self = this->shared_from_this()] {
            if (!self->answering_) {
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
        answering_ = true;
        SetDeadline(context_.Limits.ReplyTimeout); // the head's deadline ended with the head
        auto& request = parser_->get();
        request_.Method = std::string(request.method_string());
        request_.Target = std::string(request.target());
        request_.ContentType = std::string(request[http::field::content_type]);
        request_.Body = std::move(request.body());
        request_.Peer = peer_;
        leftovers_ = buffer_.size() > 0;
        parser_.reset();
        buffer_.consume(buffer_.size());
        HttpAnswer answer;
        QuickAnswer quick = QuickAnswer::NotQuick;
        try {
            quick = context_.Routes->AnswerQuickly(
                request_, answer,
                [self = this->shared_from_this()](std::optional<HttpAnswer> later) {
                    if (!later) {
                        return self->AnswerOnWorker();
                    }
                    self->Log(*later);
                    boost::asio::post(self->stream_.get_executor(),
                                      [self, answer = std::move(*later)]() mutable {
                                          self->Reply(std::move(answer));
                                      });
                });
        } catch (const std::exception&) {
            quick = QuickAnswer::Ready;
            answer = FailureAnswer(500);
        }
        if (quick == QuickAnswer::Ready) {
            Log(answer);
            Reply(std::move(answer));
        } else if (quick == QuickAnswer::NotQuick) {
            AnswerOnWorker();
        } // else the writing thread replies once the change is committed
    }

    // Database work and hash checks wait on a worker, never on the connection's thread.
    void AnswerOnWorker() {
        boost::asio::post(*context_.Workers, [self = this->shared_from_this()]() mutable {
            HttpAnswer answer;
            try {
                answer = self->context_.Routes->Answer(self->request_);
            } catch (const std::exception&) {
                answer = FailureAnswer(500);
            }
            self->Log(answer);
            boost::asio::post(
                self->stream_.get_executor(),
                [self, answer = std::move(answer)]() mutable { self->Reply(std::move(answer)); });
        });
    }

    void Log(const HttpAnswer& answer) {
        if (context_.Log) {
            context_.Log(request_, answer);
        }
    }

    void Reply(HttpAnswer answer) {
        Send(std::move(answer), request_.Method == "HEAD", leftovers_);
    }

    // Answers a request that could not be read whole, then lets the client's rest drain.
    void Fail(int status) {
        answering_ = true;
        parser_.reset();
        buffer_.consume(buffer_.size());
        Send(FailureAnswer(status), false, true);
    }

    void Send(HttpAnswer answer, bool headOnly, bool drainAfter) {
        if (answer.SharedBody) {
            return SendShared(std::move(answer), headOnly, drainAfter);
        }
        response_.emplace();
        FillHead(*response_, answer, answer.Body.size());
        if (!headOnly) {
            response_->body() = std::move(answer.Body);
        }
        Write(*response_, drainAfter);
    }

    // The body stays where it is, shared, and goes out in the pieces the socket takes.
    void SendShared(HttpAnswer answer, bool headOnly, bool drainAfter) {
        sharedBody_ = std::move(answer.SharedBody);
        sharedResponse_.emplace();
        FillHead(*sharedResponse_, answer, sharedBody_->size());
        if (!headOnly) {
            sharedResponse_->body() = {sharedBody_->data(), sharedBody_->size()};
        }
        Write(*sharedResponse_, drainAfter);
    }

    template <class Response>
    static void FillHead(Response& response, const HttpAnswer& answer, std::size_t length) {
        response.version(11);
        response.result(static_cast<unsigned>(answer.Status));
        const std::string_view reason = ReasonFor(answer.Status);
        response.reason(beast::string_view(reason.data(), reason.size()));
        response.set(http::field::content_type, answer.ContentType);
        for (const auto& [name, value] : answer.Headers) {
            response.set(name, value);
        }
        response.set(http::field::connection, "close");
        response.content_length(length);
    }

    template <class Response> void Write(Response& response, bool drainAfter) {
        SetDeadline(context_.Limits.ReplyTimeout);
        http::async_write(
            stream_, response,
            [self = this->shared_from_this(), drainAfter](beast::error_code ec, std::size_t) {
                self->response_.reset();
                self->sharedResponse_.reset();
                self->sharedBody_.reset();
                if (ec) {
                    return self->Close();
                }
                self->Finish(drainAfter);
            });
    }

    // After the answer. When the client may still be sending, closing at once would reset
    // the connection and could throw the answer away before the client read it; so the
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

    // The answer, if any, is out; with nothing unread left, the close sends it on with the
    // end of the stream. Safe to call again.
    void Close() { Socket().close(); }

    static constexpr std::size_t kMaxDrained = 256 * 1024;

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
    // The current step's deadline, in Clock ticks: written on the connection's loop, read by
    // the deadline round.
    std::atomic<Clock::rep> deadline_{Clock::duration::max().count()};
    bool answering_ = false;
    HttpRequestInfo request_; // once read whole; then only read, by whichever thread answers
    bool leftovers_ = false;  // the client sent more than its request
};

} // namespace server
