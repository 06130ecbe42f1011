#include "tests/support/TlsPeers.h"

#include "tests/support/HttpText.h"

#include <csignal>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace testing_support {

LoopbackAcceptor::LoopbackAcceptor() = default;

LoopbackAcceptor::~LoopbackAcceptor() {
    Stop();
}

void LoopbackAcceptor::Start() {
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

// Called by the most derived destructor first, so that no connection is served by a half
// destroyed peer.
void LoopbackAcceptor::Stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        stopping_ = true;
        for (int fd : openFds_) {
            shutdown(fd, SHUT_RDWR);
        }
    }
    listener_.StopAccepting();
    if (acceptThread_.joinable()) {
        acceptThread_.join();
    }
    for (auto& worker : workers_) {
        worker.join();
    }
}

bool LoopbackAcceptor::Stopping() const {
    std::lock_guard lock(mutex_);
    return stopping_;
}

void LoopbackAcceptor::AcceptLoop() {
    for (;;) {
        const int fd = accept4(listener_.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
        std::lock_guard lock(mutex_);
        if (stopping_) {
            if (fd >= 0) {
                close(fd);
            }
            return;
        }
        if (fd < 0) {
            continue;
        }
        const timeval limit{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        openFds_.push_back(fd);
        workers_.emplace_back([this, fd] {
            Serve(fd);
            std::lock_guard done(mutex_);
            std::erase(openFds_, fd);
            close(fd);
        });
    }
}

struct TlsLoopbackServer::Context {
    SSL_CTX* ctx = nullptr;
    ~Context() { SSL_CTX_free(ctx); }
};

TlsLoopbackServer::TlsLoopbackServer(const PemPair& identity, TlsPeerOptions options)
    : context_(std::make_unique<Context>()), closeMessage_(options.closeMessage),
      reply_("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nOK") {
    // The server side writes through the library straight to the socket: a client that went
    // away must not end the test program.
    std::signal(SIGPIPE, SIG_IGN);
    context_->ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX* ctx = context_->ctx;
    if (options.minVersion != 0 || options.maxVersion != 0) {
        // Old protocol versions are refused at the library's default security level.
        SSL_CTX_set_security_level(ctx, 0);
        SSL_CTX_set_cipher_list(ctx, "DEFAULT:@SECLEVEL=0");
        SSL_CTX_set_min_proto_version(ctx, options.minVersion);
        SSL_CTX_set_max_proto_version(ctx, options.maxVersion);
    }
    BIO* certIn =
        BIO_new_mem_buf(identity.certificate.data(), static_cast<int>(identity.certificate.size()));
    BIO* keyIn = BIO_new_mem_buf(identity.key.data(), static_cast<int>(identity.key.size()));
    X509* cert = PEM_read_bio_X509(certIn, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyIn, nullptr, nullptr, nullptr);
    const bool ok = cert && key && SSL_CTX_use_certificate(ctx, cert) == 1 &&
                    SSL_CTX_use_PrivateKey(ctx, key) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(certIn);
    BIO_free(keyIn);
    if (!ok) {
        throw std::runtime_error("test TLS server: unusable certificate or key");
    }
    Start();
}

TlsLoopbackServer::~TlsLoopbackServer() {
    Stop();
}

void TlsLoopbackServer::SetReply(std::string reply) {
    std::lock_guard lock(mutex_);
    reply_ = std::move(reply);
}

std::vector<std::string> TlsLoopbackServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool TlsLoopbackServer::WaitForRequests(std::size_t count,
                                        std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void TlsLoopbackServer::Serve(int fd) {
    SSL* ssl = SSL_new(context_->ctx);
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) == 1) {
        const std::string request = ReadRequestHead([ssl](char* buffer, std::size_t size) {
            return SSL_read(ssl, buffer, static_cast<int>(size));
        });
        std::string reply;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
            reply = reply_;
        }
        arrived_.notify_all();
        if (!reply.empty()) {
            SSL_write(ssl, reply.data(), static_cast<int>(reply.size()));
        }
        if (closeMessage_) {
            SSL_shutdown(ssl);
        }
    }
    SSL_free(ssl);
    ERR_clear_error();
}

RawAnswerPeer::RawAnswerPeer(std::optional<std::string> answer) : answer_(std::move(answer)) {
    Start();
}

RawAnswerPeer::~RawAnswerPeer() {
    Stop();
}

void RawAnswerPeer::Serve(int fd) {
    char buffer[4096];
    if (recv(fd, buffer, sizeof buffer, 0) <= 0) {
        return;
    }
    if (answer_) {
        send(fd, answer_->data(), answer_->size(), MSG_NOSIGNAL);
        return; // and close
    }
    while (!Stopping()) { // until the client goes
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 100) > 0 && recv(fd, buffer, sizeof buffer, 0) <= 0) {
            return;
        }
    }
}

} // namespace testing_support
