#pragma once
// The client side of TLS over an already connected byte stream: TLS 1.2 or newer, the peer's
// certificate checked against the trusted authorities and the host name, with no way to turn
// the checks off. Every byte of the handshake goes through the stream below, so its time
// limits bound the handshake as well.

#include "platform/ByteStream.h"

#include <memory>
#include <string>

namespace platform {

// How many bytes the server may send before the handshake is complete. Far above any real
// certificate chain; it keeps a hostile peer from making the client buffer without end.
inline constexpr std::size_t kMaxHandshakeBytes = 256 * 1024;

class TlsStream final : public ByteStream {
public:
    enum class Outcome {
        Established,
        TimedOut, // the peer did not answer in time: not a refusal
        Refused,  // the certificate or the handshake was refused; `reason` says why
    };
    struct Opened {
        Outcome outcome = Outcome::Refused;
        std::string reason;                // short, for the user, when refused
        std::unique_ptr<TlsStream> stream; // when established
    };

    // Runs the handshake with the server named `serverName` (a host name or an IP address)
    // over `lower`, which must outlive the returned stream, all of it by `deadline`.
    // `authorityFile` names a PEM file of trusted authorities that replaces the system's;
    // empty means the system's.
    static Opened Open(ByteStream& lower, const std::string& serverName,
                       const std::string& authorityFile, Deadline deadline);

    ~TlsStream() override;
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    bool SendAll(std::string_view bytes, Deadline deadline) override;
    // A close with the TLS close message reads as Closed; one without it, which anyone on
    // the way can forge, as ClosedUnconfirmed. The HTTP reply decides what each one means.
    ReadResult Receive(char* buffer, std::size_t capacity, Deadline deadline) override;

    struct State;

private:
    explicit TlsStream(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

} // namespace platform
