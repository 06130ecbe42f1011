#include "platform/TlsStream.h"

#include <arpa/inet.h>
#include <climits>
#include <map>
#include <mutex>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace platform {

namespace {

struct ContextFree {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};
using ContextPtr = std::shared_ptr<SSL_CTX>;

} // namespace

// What the byte-stream glue remembers between OpenSSL's calls into it: the stream below, how
// its last read ended (so that a time-out is told apart from a refusal) and the handshake
// bytes counted against their limit.
struct TlsStream::State {
    ByteStream* lower = nullptr;
    Deadline deadline{}; // of the call in progress
    ReadStatus lastRead = ReadStatus::Data;
    bool sendFailed = false;
    bool handshaking = true;
    bool handshakeTooLarge = false;
    std::size_t handshakeBytes = 0;
    ContextPtr context;
    std::unique_ptr<SSL, SslFree> ssl;
};

namespace {

using State = TlsStream::State;

State& StateOf(BIO* bio) {
    return *static_cast<State*>(BIO_get_data(bio));
}

int GlueWrite(BIO* bio, const char* data, int length) {
    BIO_clear_retry_flags(bio);
    State& state = StateOf(bio);
    if (length <= 0) {
        return 0;
    }
    if (!state.lower->SendAll(std::string_view(data, static_cast<std::size_t>(length)),
                              state.deadline)) {
        state.sendFailed = true;
        return -1;
    }
    return length;
}

int GlueRead(BIO* bio, char* out, int length) {
    BIO_clear_retry_flags(bio);
    State& state = StateOf(bio);
    if (length <= 0) {
        return 0;
    }
    std::size_t capacity = static_cast<std::size_t>(length);
    if (state.handshaking) {
        if (state.handshakeBytes >= kMaxHandshakeBytes) {
            state.handshakeTooLarge = true;
            return -1;
        }
        capacity = std::min(capacity, kMaxHandshakeBytes - state.handshakeBytes);
    }
    const ReadResult read = state.lower->Receive(out, capacity, state.deadline);
    state.lastRead = read.status;
    switch (read.status) {
    case ReadStatus::Data:
        if (state.handshaking) {
            state.handshakeBytes += read.count;
        }
        return static_cast<int>(read.count);
    case ReadStatus::Closed:
        return 0;
    default:
        return -1;
    }
}

long GlueControl(BIO* bio, int command, long, void*) {
    switch (command) {
    case BIO_CTRL_FLUSH:
        return 1; // every write is sent at once
    case BIO_CTRL_EOF:
        return StateOf(bio).lastRead == ReadStatus::Closed ? 1 : 0;
    default:
        return 0;
    }
}

int GlueCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD* GlueMethod() {
    static const BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "byte stream");
        BIO_meth_set_write(m, GlueWrite);
        BIO_meth_set_read(m, GlueRead);
        BIO_meth_set_ctrl(m, GlueControl);
        BIO_meth_set_create(m, GlueCreate);
        return m;
    }();
    return method;
}

struct ContextResult {
    ContextPtr context;
    std::string reason;
};

ContextResult NewClientContext(const std::string& authorityFile) {
    ContextPtr ctx(SSL_CTX_new(TLS_client_method()), ContextFree{});
    if (!ctx) {
        return {nullptr, "cannot set up TLS"};
    }
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_max_cert_list(ctx.get(), static_cast<long>(kMaxHandshakeBytes));
    // A close without the TLS close message stays visible as such (ClosedUnconfirmed): only
    // the close message proves that a reply of no declared length is complete.
    SSL_CTX_set_options(ctx.get(), SSL_OP_NO_RENEGOTIATION);
    const bool loaded =
        authorityFile.empty()
            ? SSL_CTX_set_default_verify_paths(ctx.get()) == 1
            : SSL_CTX_load_verify_locations(ctx.get(), authorityFile.c_str(), nullptr) == 1;
    if (!loaded) {
        return {nullptr, authorityFile.empty() ? "cannot load the system's trusted certificates"
                                               : "cannot read the authority file " + authorityFile};
    }
    return {std::move(ctx), {}};
}

// One context per authority file for the life of the process: loading the trusted
// certificates costs more than a handshake. A file that could not be read is tried again on
// the next connection.
ContextResult ClientContext(const std::string& authorityFile) {
    static std::mutex mutex;
    static std::map<std::string, ContextPtr> contexts;
    std::lock_guard lock(mutex);
    if (const auto found = contexts.find(authorityFile); found != contexts.end()) {
        return {found->second, {}};
    }
    ContextResult made = NewClientContext(authorityFile);
    if (made.context) {
        contexts.emplace(authorityFile, made.context);
    }
    return made;
}

bool IsAddressLiteral(const std::string& name) {
    unsigned char bytes[16];
    return inet_pton(AF_INET, name.c_str(), bytes) == 1 ||
           inet_pton(AF_INET6, name.c_str(), bytes) == 1;
}

// Names the peer must prove: an address literal is matched against the certificate's IP
// entries and is never sent as the server name, which may only carry host names.
bool ExpectPeer(SSL* ssl, const std::string& serverName) {
    if (serverName.empty()) {
        return false;
    }
    if (IsAddressLiteral(serverName)) {
        return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), serverName.c_str()) == 1;
    }
    SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    // What SSL_set_tlsext_host_name expands to, without the macro's C cast.
    void* name = const_cast<char*>(serverName.c_str());
    return SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, name) == 1 &&
           SSL_set1_host(ssl, serverName.c_str()) == 1;
}

// Plain words for the refusals a user meets most; anything else keeps the library's text.
std::string ProtocolReason(unsigned long error) {
    switch (ERR_GET_REASON(error)) {
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
        return "the server offers no TLS 1.2 or newer";
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
        return "the server does not speak TLS";
    default:
        break;
    }
    const char* text = ERR_reason_error_string(error);
    return text ? text : "handshake failed";
}

std::string RefusalReason(const State& state) {
    const long verified = SSL_get_verify_result(state.ssl.get());
    if (verified != X509_V_OK) {
        return X509_verify_cert_error_string(verified);
    }
    if (state.handshakeTooLarge) {
        return "the server's handshake is too large";
    }
    if (const unsigned long error = ERR_peek_last_error();
        error != 0 && !(state.lastRead == ReadStatus::Closed &&
                        ERR_GET_REASON(error) == SSL_R_UNEXPECTED_EOF_WHILE_READING)) {
        return ProtocolReason(error);
    }
    if (state.sendFailed) {
        return "the connection failed during the handshake";
    }
    switch (state.lastRead) {
    case ReadStatus::Closed:
        return "the server closed the connection during the handshake";
    case ReadStatus::Reset:
        return "the server reset the connection during the handshake";
    default:
        return "the connection failed during the handshake";
    }
}

} // namespace

TlsStream::TlsStream(std::unique_ptr<State> state) : state_(std::move(state)) {}

TlsStream::~TlsStream() = default;

TlsStream::Opened TlsStream::Open(ByteStream& lower, const std::string& serverName,
                                  const std::string& authorityFile, Deadline deadline) {
    ERR_clear_error();
    ContextResult context = ClientContext(authorityFile);
    if (!context.context) {
        ERR_clear_error();
        return {Outcome::Refused, std::move(context.reason), nullptr};
    }
    auto state = std::make_unique<State>();
    state->lower = &lower;
    state->deadline = deadline;
    state->context = std::move(context.context);
    state->ssl.reset(SSL_new(state->context.get()));
    BIO* glue = state->ssl ? BIO_new(GlueMethod()) : nullptr;
    if (!glue) {
        ERR_clear_error();
        return {Outcome::Refused, "cannot set up TLS", nullptr};
    }
    BIO_set_data(glue, state.get());
    SSL_set_bio(state->ssl.get(), glue, glue); // the connection owns the glue from here
    if (!ExpectPeer(state->ssl.get(), serverName)) {
        ERR_clear_error();
        return {Outcome::Refused, "the server name cannot be checked", nullptr};
    }

    const int done = SSL_connect(state->ssl.get());
    if (done != 1) {
        Opened failed{Outcome::Refused, {}, nullptr};
        if (state->lastRead == ReadStatus::TimedOut) {
            failed.outcome = Outcome::TimedOut;
        } else {
            failed.reason = RefusalReason(*state);
        }
        ERR_clear_error();
        return failed;
    }
    state->handshaking = false;
    return {Outcome::Established, {}, std::unique_ptr<TlsStream>(new TlsStream(std::move(state)))};
}

bool TlsStream::SendAll(std::string_view bytes, Deadline deadline) {
    ERR_clear_error();
    state_->deadline = deadline;
    while (!bytes.empty()) {
        std::size_t written = 0;
        const std::size_t piece = std::min<std::size_t>(bytes.size(), INT_MAX);
        if (SSL_write_ex(state_->ssl.get(), bytes.data(), piece, &written) != 1) {
            ERR_clear_error();
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

ReadResult TlsStream::Receive(char* buffer, std::size_t capacity, Deadline deadline) {
    ERR_clear_error();
    state_->deadline = deadline;
    std::size_t count = 0;
    if (SSL_read_ex(state_->ssl.get(), buffer, capacity, &count) == 1) {
        return {ReadStatus::Data, count};
    }
    const int error = SSL_get_error(state_->ssl.get(), 0);
    ERR_clear_error();
    if (error == SSL_ERROR_ZERO_RETURN) {
        return {ReadStatus::Closed, 0};
    }
    switch (state_->lastRead) {
    case ReadStatus::TimedOut:
        return {ReadStatus::TimedOut, 0};
    case ReadStatus::Reset:
        return {ReadStatus::Reset, 0};
    case ReadStatus::Closed:
        return {ReadStatus::ClosedUnconfirmed, 0};
    default:
        return {ReadStatus::Failed, 0};
    }
}

} // namespace platform
