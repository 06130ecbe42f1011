#pragma once
// The reading rules of one HTTP/1.0 exchange, apart from how the bytes travel: the request
// is sent over any byte stream, the reply read until its end, the body handed to a sink.

#include "platform/ByteStream.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

// Where the body goes. Bytes that arrive before the end of the header block are appended
// too (a reply without one is delivered whole); once the end is found they are dropped.
class IBodySink {
public:
    virtual ~IBodySink() = default;
    virtual bool Append(std::string_view bytes) = 0;
    virtual bool DropAll() = 0;
};

// At least `Bytes` must arrive within `Span`, counted afresh each time they have.
struct TProgressRule {
    std::uint64_t Bytes;
    std::chrono::milliseconds Span;
};

struct TExchangeLimits {
    std::chrono::milliseconds PerRead;       // the longest wait for any one send or read
    platform::Deadline End;                  // the whole exchange is over by then
    std::uint64_t MaxBody;                   // more body bytes than this fail the exchange
    std::optional<TProgressRule> Progress{}; // a reply slower than this fails the exchange
};

enum class TExchangeEnd {
    Completed, // the reply ended normally
    Failed,    // a read failed, timed out, or the reply was cut off
    TooLarge   // the body went past MaxBody
};

// Sends `request` and reads the reply into `sink`. The reply ends normally when the peer
// closes, when it resets the connection after the header end, or as soon as the body has
// the length the head declared. A reset before the header end, or an end before a declared
// length was reached, is a failed read; so is a close the stream cannot confirm as the end.
TExchangeEnd ExchangeOver(platform::ByteStream& stream, std::string_view request, IBodySink& sink,
                          const TExchangeLimits& limits);

// The body length a reply head declares with "Content-Length", or none when it declares
// none, or lengths that disagree or are no plain decimal number.
std::optional<std::uint64_t> DeclaredContentLength(std::string_view head);
