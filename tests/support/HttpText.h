#pragma once
// The parts of an HTTP message as its bytes on the wire hold them, for tests and benchmarks that
// read requests and replies without the client's transport.

#include <string>
#include <string_view>

namespace testing_support {

// What BodyOf gives for bytes without the blank line that ends a head (nothing came, or the
// message was cut inside its head), so that a missing answer never passes for an empty body.
inline constexpr std::string_view kNoBody = "(no end of head)";

// The head up to and with the CR LF of its last line; the whole text when no blank line ends it.
std::string HeadOf(std::string_view message);
// What follows the blank line that ends the head, or kNoBody.
std::string BodyOf(std::string_view message);
// The first line without its CR LF.
std::string StatusLineOf(std::string_view message);

// Reads with `read(buffer, size)`, which returns the count read and 0 or less at the end, until
// the blank line that ends a request head has come (what came after it is kept too).
template <class Read> std::string ReadRequestHead(Read&& read) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        const auto count = read(buffer, sizeof buffer);
        if (count <= 0) {
            break;
        }
        request.append(buffer, static_cast<std::size_t>(count));
    }
    return request;
}

} // namespace testing_support
