#pragma once
// Window messages from other programs. Another program reaches the running client through a
// local socket named after the registered message "Corvale_EXE" in the user's runtime folder:
// it writes one message number, the client's window thread handles it as its window
// procedure would, and the result comes back.
//
// Wire format, one exchange per connection: the request is the message number in decimal and
// a line feed; the reply is the result in decimal (signed) and a line feed.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The number that a message name stands for, the same in every process and for every
// spelling in upper or lower case; in the range of registered messages, 0xC000 to 0xFFFF.
std::uint32_t RegisterWindowMessage(std::string_view name);

// The name the client registers its message under; its socket is named after it.
inline constexpr std::string_view kClientMessageName = "Corvale_EXE";

// The socket for the messages of the program registered under `name`, in `folder` (ending in
// "/"), or in the user's runtime folder (empty text when there is none).
std::string LocalMessageSocketPath(std::string_view name, const std::string& folder);
std::string LocalMessageSocketPath(std::string_view name);

// A message number as a program names it on a command line: decimal, or hexadecimal with
// "0x"; any other text is looked up as a registered message name. None for empty text or a
// number that does not fit 32 bits.
std::optional<std::uint32_t> MessageNumberFromText(std::string_view text);

// The two halves of the wire format. A request line is accepted only as decimal digits
// (1 to 10 of them, fitting 32 bits) followed by "\n".
std::string FormatMessageRequest(std::uint32_t message);
std::optional<std::uint32_t> ParseMessageRequest(std::string_view line);
std::string FormatMessageReply(std::int64_t result);
std::optional<std::int64_t> ParseMessageReply(std::string_view line);

// Sends `message` to the socket at `path` and waits at most `timeout` in all for the answer.
// None when nobody listens or no well-formed answer comes in time.
std::optional<std::int64_t> SendLocalMessage(const std::string& path, std::uint32_t message,
                                             std::chrono::milliseconds timeout);

} // namespace platform
