#pragma once
// The bounds of the HTTP front end. Every one is a command-line option.

#include <chrono>
#include <cstddef>

namespace server {

struct HttpLimits {
    std::size_t MaxHeadBytes = 16 * 1024;  // request line and header fields: 431 beyond
    std::size_t MaxTargetBytes = 8 * 1024; // the request target: 414 beyond
    std::size_t MaxBodyBytes = 64 * 1024;  // a form's body: 413 beyond
    std::chrono::seconds HeadTimeout{10};  // the whole head, counted from the connection
    std::chrono::seconds ReplyTimeout{60}; // body, making the reply, sending it: each
    std::size_t MaxConnections = 4096;     // in all; more are told to come back later
    std::size_t MaxConnectionsPerAddress = 64;
};

} // namespace server
