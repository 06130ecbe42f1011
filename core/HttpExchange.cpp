#include "core/HttpExchange.h"

#include "core/Lib5.h"
#include "util/AsciiCase.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>

namespace {

constexpr std::size_t kReceiveBufferSize = 1024;
constexpr std::string_view kHeaderEnd = "\r\n\r\n";
// Enough for any real reply head; a longer one is still read, its length just not known.
constexpr std::size_t kMaxHeadKept = 64 * 1024;

// Finds the end of the header block even when it arrives split across reads: the last three
// bytes of the previous read are searched together with the new one.
class HeaderEndFinder {
public:
    bool Found() const { return found_; }
    // Offset in `chunk` where the body starts, or none when the header end is not in it.
    std::optional<std::size_t> Feed(std::string_view chunk) {
        std::string window = carry_;
        window.append(chunk);
        const auto at = window.find(kHeaderEnd);
        if (at != std::string::npos) {
            found_ = true;
            return at + kHeaderEnd.size() - carry_.size();
        }
        const std::size_t keep = std::min(window.size(), kHeaderEnd.size() - 1);
        carry_ = window.substr(window.size() - keep);
        return std::nullopt;
    }

private:
    std::string carry_;
    bool found_ = false;
};

std::string_view TrimSpaces(std::string_view text) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<std::uint64_t> PlainDecimal(std::string_view text) {
    if (text.empty() || text.size() > 18) { // 18 digits cannot overflow 64 bits
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

// The state of one reply as it is read.
class ReplyReader {
public:
    ReplyReader(IBodySink& sink, std::uint64_t maxBody) : sink_(sink), maxBody_(maxBody) {}

    // Takes the bytes of one read; none while the reply goes on, else how it ended.
    std::optional<TExchangeEnd> Take(std::string_view chunk) {
        if (!header_.Found()) {
            const auto bodyStart = header_.Feed(chunk);
            KeepHead(bodyStart ? chunk.substr(0, *bodyStart) : chunk);
            if (bodyStart) {
                if (!sink_.DropAll()) {
                    return TExchangeEnd::Failed;
                }
                received_ = 0;
                chunk.remove_prefix(*bodyStart);
                declared_ = headComplete_ ? DeclaredContentLength(head_) : std::nullopt;
                if (declared_ && *declared_ > maxBody_) {
                    return TExchangeEnd::TooLarge; // no use reading what cannot be kept
                }
            }
        }
        if (declared_) {
            chunk = chunk.substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(
                                        chunk.size(), *declared_ - received_)));
        }
        if (received_ + chunk.size() > maxBody_) {
            return TExchangeEnd::TooLarge;
        }
        if (!chunk.empty() && !sink_.Append(chunk)) {
            return TExchangeEnd::Failed;
        }
        received_ += chunk.size();
        if (declared_ && received_ == *declared_) {
            return TExchangeEnd::Completed; // all of it is here: no need to wait for the close
        }
        return std::nullopt;
    }

    // How the reply ended when the peer closed (`reset` false) or reset the connection.
    TExchangeEnd EndOfStream(bool reset) const {
        if (!header_.Found()) {
            return reset ? TExchangeEnd::Failed : TExchangeEnd::Completed;
        }
        if (declared_ && received_ < *declared_) {
            return TExchangeEnd::Failed; // cut off before the length the head declared
        }
        return TExchangeEnd::Completed;
    }

private:
    void KeepHead(std::string_view bytes) {
        if (head_.size() + bytes.size() > kMaxHeadKept) {
            headComplete_ = false;
            return;
        }
        head_.append(bytes);
    }

    IBodySink& sink_;
    const std::uint64_t maxBody_;
    HeaderEndFinder header_;
    std::string head_;
    bool headComplete_ = true;
    std::optional<std::uint64_t> declared_;
    std::uint64_t received_ = 0;
};

// Keeps the time by which the reply must have made its next step of progress.
class ProgressWatch {
public:
    explicit ProgressWatch(std::optional<TProgressRule> rule) : rule_(rule) { Restart(); }
    platform::Deadline Due() const { return due_; }
    bool Overdue() const { return std::chrono::steady_clock::now() >= due_; }
    void Count(std::size_t bytes) {
        counted_ += bytes;
        if (rule_ && counted_ >= rule_->Bytes) {
            Restart();
        }
    }

private:
    void Restart() {
        counted_ = 0;
        due_ = rule_ ? std::chrono::steady_clock::now() + rule_->Span : platform::Deadline::max();
    }
    std::optional<TProgressRule> rule_;
    std::uint64_t counted_ = 0;
    platform::Deadline due_;
};

} // namespace

std::optional<std::uint64_t> DeclaredContentLength(std::string_view head) {
    std::optional<std::uint64_t> length;
    bool firstLine = true;
    while (!head.empty()) {
        const auto lineEnd = head.find('\n');
        const std::string_view line = head.substr(0, lineEnd);
        head.remove_prefix(lineEnd == std::string_view::npos ? head.size() : lineEnd + 1);
        if (std::exchange(firstLine, false)) {
            continue; // the status line
        }
        const auto colon = line.find(':');
        if (colon == std::string_view::npos ||
            !EqualsIgnoringAsciiCase(line.substr(0, colon), "Content-Length")) {
            continue;
        }
        const auto value = PlainDecimal(TrimSpaces(line.substr(colon + 1)));
        if (!value || (length && *length != *value)) {
            return std::nullopt; // no length that can be trusted: read until the close
        }
        length = value;
    }
    return length;
}

TExchangeEnd ExchangeOver(platform::ByteStream& stream, std::string_view request, IBodySink& sink,
                          const TExchangeLimits& limits) {
    const auto waitBy = [&limits] {
        return std::min(limits.End, std::chrono::steady_clock::now() + limits.PerRead);
    };
    // A failed send is not decided here: the reads that follow decide.
    stream.SendAll(request, waitBy());

    std::array<char, kReceiveBufferSize> buffer;
    ReplyReader reply(sink, limits.MaxBody);
    ProgressWatch progress(limits.Progress);
    for (;;) {
        if (progress.Overdue()) {
            return TExchangeEnd::Failed; // bytes still come, but too few to ever end
        }
        const auto readBy = std::min(waitBy(), progress.Due());
        const auto read = stream.Receive(buffer.data(), buffer.size(), readBy);
        switch (read.status) {
        case platform::ReadStatus::Data:
            break;
        case platform::ReadStatus::Closed:
            return reply.EndOfStream(false);
        case platform::ReadStatus::Reset:
            return reply.EndOfStream(true);
        case platform::ReadStatus::ClosedUnconfirmed:
            // Nothing shows the reply is whole: a reply of declared length has already ended
            // once all of it arrived, and one of no declared length may have been cut off.
        case platform::ReadStatus::TimedOut:
        case platform::ReadStatus::Failed:
            return TExchangeEnd::Failed;
        }
        progress.Count(read.count);
        if (const auto end = reply.Take(std::string_view(buffer.data(), read.count))) {
            return *end;
        }
        PumpMessages();
    }
}
