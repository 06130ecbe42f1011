#pragma once
// What HTTPS adds to a session: the TLS stream on the TCP connection, how it begins and ends,
// and the server context that holds the certificate and key.

#include "server/HttpSession.h"
#include "server/Result.h"

#include <boost/asio/ssl.hpp>
#include <boost/beast/ssl.hpp>
#include <memory>
#include <string>

namespace server {

using TlsTcpStream = beast::ssl_stream<beast::tcp_stream>;

// The handshake before the first byte of the request, the close message after the reply;
// both under the session's deadlines.
template <> struct StreamSteps<TlsTcpStream> {
    template <class Done> static void Begin(TlsTcpStream& stream, Done&& done) {
        stream.async_handshake(boost::asio::ssl::stream_base::server, std::forward<Done>(done));
    }
    template <class Done> static void End(TlsTcpStream& stream, Done&& done) {
        stream.async_shutdown(std::forward<Done>(done));
    }
};

// A server context of TLS 1.2 or newer with the certificate chain and key given as PEM text;
// a refusal that says why when they cannot be used together.
Result<std::unique_ptr<boost::asio::ssl::context>>
MakeTlsContext(const std::string& certificateChain, const std::string& key);

} // namespace server
