#pragma once
// A connected byte stream as the HTTP transport sees it: send bytes, receive bytes, every
// wait bounded by a deadline. The plain TCP connection is one; an encrypted stream over such
// a connection can be another, read by the same reading rules.

#include <chrono>
#include <cstddef>
#include <string_view>

namespace platform {

using Deadline = std::chrono::steady_clock::time_point;

enum class ReadStatus {
    Data,   // bytes were read
    Closed, // the peer ended the stream in order
    // The peer's side went away without the end the protocol confirms (TLS without its close
    // message): whoever forged the close may have cut off bytes that were still to come.
    ClosedUnconfirmed,
    Reset,    // the peer broke the connection off
    TimedOut, // nothing arrived before the deadline
    Failed    // any other failure
};

struct ReadResult {
    ReadStatus status;
    std::size_t count; // bytes read, for ReadStatus::Data
};

class ByteStream {
public:
    virtual ~ByteStream() = default;

    // Sends every byte; false on failure or when the peer has not taken them all by `deadline`.
    virtual bool SendAll(std::string_view bytes, Deadline deadline) = 0;
    // Reads up to `capacity` bytes (at least 1), waiting until `deadline` at most for any.
    virtual ReadResult Receive(char* buffer, std::size_t capacity, Deadline deadline) = 0;
};

} // namespace platform
