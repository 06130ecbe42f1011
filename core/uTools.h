#pragma once
// The service call and the reply convention shared by every service operation.

#include "core/Net.h"

#include <string>
#include <string_view>

inline constexpr std::string_view kServerTimeoutReply = "ERR -001:Server timeout !";
// Followed by the short reason, when an encrypted connection's certificate or handshake was
// refused: that is not a timeout and must not look like one.
inline constexpr std::string_view kSecureConnectionFailedReply =
    "ERR -004:Secure connection failed: ";

// Sends one service request URL to the configured service port (over TLS checked against the
// configured authorities for a secure service) and returns the reply body, or
// kServerTimeoutReply when nothing usable came back (kSecureConnectionFailedReply and the
// reason when a secure connection was refused).
std::string ServiceCall(const std::string& url);

// The reply text a service call takes from the transport's memory block: the text up to its
// first zero byte, or kServerTimeoutReply when there is no block or that text is empty.
std::string ReplyText(const TMemoryBlock& block);

// A reply cut at its first blank: status word "OK" means success and the message carries the
// data; any other status word is a failure whose message is shown to the user.
struct TReply {
    std::string Status;
    std::string Message;
    bool IsOK() const { return Status == "OK"; }
};
TReply SplitReply(const std::string& reply);
