#pragma once
// A connected stream of bytes in both directions whose waits are bounded by the stream itself.
// The plain socket and the encrypted stream above it both offer it, so that the HTTP exchange
// is one algorithm over either.

#include "platform/Socket.h"

#include <cstddef>
#include <string_view>

namespace platform {

class ByteStream {
public:
    virtual ~ByteStream() = default;
    // Sends every byte; false when the stream fails or the peer takes none in time.
    virtual bool SendAll(std::string_view bytes) = 0;
    // Reads up to `capacity` bytes, waiting no longer than the stream's time limit.
    virtual ReadResult Read(char* buffer, std::size_t capacity) = 0;
};

} // namespace platform
