// One service call round trip against a loopback server, beside a minimal raw-socket client
// that sends the same request to the same server. The ratio of the two shows what our
// transport costs over the bare system calls. The same pair over TLS: our call beside a
// minimal client of the TLS library doing the same handshake and request.

#include "core/Net.h"
#include "core/uEndpoint.h"
#include "core/uTools.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestCertificates.h"

#include <arpa/inet.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <csignal>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

const std::string kReply =
    "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nOK 192.0.2.7 192.0.2.7";

// Answers one connection after another: read the request head, send the reply, close.
class TinyServer {
public:
    TinyServer() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        listen(fd_, 128);
        thread_ = std::thread([this] { Serve(); });
    }
    ~TinyServer() {
        stop_ = true;
        shutdown(fd_, SHUT_RDWR);
        thread_.join();
        close(fd_);
    }
    std::uint16_t Port() const { return port_; }

private:
    void Serve() {
        while (!stop_) {
            const int c = accept(fd_, nullptr, nullptr);
            if (c < 0) {
                continue;
            }
            std::string request;
            char buf[2048];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = recv(c, buf, sizeof buf, 0);
                if (n <= 0) {
                    break;
                }
                request.append(buf, static_cast<std::size_t>(n));
            }
            send(c, kReply.data(), kReply.size(), MSG_NOSIGNAL);
            close(c);
        }
    }
    int fd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TinyServer& Server() {
    static TinyServer server;
    return server;
}

const std::string kUrlPath =
    "bin/corvale/"
    "cmd.php?action=getip&id=jdoe&pswd=UU9qT3doRVNhdTFWRnFEUQ==&host=OFFICE-PC&v=0.3.11.25";

// The least a client can do: connect, one send, read to the close, keep the bytes after the
// head.
std::string RawFetch(std::uint16_t port, const std::string& request) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string all;
    char buf[1024];
    for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) {
        all.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    const auto end = all.find("\r\n\r\n");
    return end == std::string::npos ? all : all.substr(end + 4);
}

void BM_ServiceCall(benchmark::State& state) {
    SetServiceEndpoint({"127.0.0.1", Server().Port()});
    const std::string url = "http://127.0.0.1/" + kUrlPath;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ServiceCall(url));
    }
}

void BM_RawSocketBaseline(benchmark::State& state) {
    const std::string request = BuildRequest("127.0.0.1", kUrlPath);
    for (auto _ : state) {
        benchmark::DoNotOptimize(RawFetch(Server().Port(), request));
    }
}

// The TLS server side: a certificate for 127.0.0.1 from an authority made for this run.
struct TlsSetup {
    testing_support::TempFolder folder;
    testing_support::TestAuthority authority;
    testing_support::PemPair identity =
        authority.Issue({.dnsNames = {}, .ipAddresses = {"127.0.0.1"}});
    std::string authorityFile = folder / "authority.pem";
    SSL_CTX* server = SSL_CTX_new(TLS_server_method());
    SSL_CTX* client = SSL_CTX_new(TLS_client_method());

    TlsSetup() {
        std::signal(SIGPIPE, SIG_IGN);
        testing_support::WriteFile(authorityFile, authority.CertificatePem());
        const auto files =
            testing_support::WritePemFiles(folder.Path().string(), "server", identity);
        SSL_CTX_use_certificate_chain_file(server, files.certificate.c_str());
        SSL_CTX_use_PrivateKey_file(server, files.key.c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_set_min_proto_version(client, TLS1_2_VERSION);
        SSL_CTX_set_verify(client, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_load_verify_locations(client, authorityFile.c_str(), nullptr);
    }
};

TlsSetup& Tls() {
    static TlsSetup setup;
    return setup;
}

// Answers one TLS connection after another: handshake, read the request head, reply, close.
class TinyTlsServer {
public:
    TinyTlsServer() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        listen(fd_, 128);
        thread_ = std::thread([this] { Serve(); });
    }
    ~TinyTlsServer() {
        stop_ = true;
        shutdown(fd_, SHUT_RDWR);
        thread_.join();
        close(fd_);
    }
    std::uint16_t Port() const { return port_; }

private:
    void Serve() {
        while (!stop_) {
            const int c = accept(fd_, nullptr, nullptr);
            if (c < 0) {
                continue;
            }
            SSL* ssl = SSL_new(Tls().server);
            SSL_set_fd(ssl, c);
            if (SSL_accept(ssl) == 1) {
                std::string request;
                char buf[2048];
                while (request.find("\r\n\r\n") == std::string::npos) {
                    const int n = SSL_read(ssl, buf, sizeof buf);
                    if (n <= 0) {
                        break;
                    }
                    request.append(buf, static_cast<std::size_t>(n));
                }
                SSL_write(ssl, kReply.data(), static_cast<int>(kReply.size()));
                SSL_shutdown(ssl);
            }
            SSL_free(ssl);
            ERR_clear_error();
            close(c);
        }
    }
    int fd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TinyTlsServer& TlsServer() {
    static TinyTlsServer server;
    return server;
}

// The least a TLS client can do with the same checks: connect, handshake verifying the
// certificate and its address, one write, read to the close, keep the bytes after the head.
std::string RawTlsFetch(std::uint16_t port, const std::string& request) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    SSL* ssl = SSL_new(Tls().client);
    SSL_set_fd(ssl, fd);
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), "127.0.0.1");
    std::string all;
    if (SSL_connect(ssl) == 1) {
        SSL_write(ssl, request.data(), static_cast<int>(request.size()));
        char buf[1024];
        for (int n; (n = SSL_read(ssl, buf, sizeof buf)) > 0;) {
            all.append(buf, static_cast<std::size_t>(n));
        }
    }
    SSL_free(ssl);
    ERR_clear_error();
    close(fd);
    const auto end = all.find("\r\n\r\n");
    return end == std::string::npos ? all : all.substr(end + 4);
}

void BM_ServiceCallTls(benchmark::State& state) {
    SetServiceEndpoint({"127.0.0.1", TlsServer().Port(), true, Tls().authorityFile});
    const std::string url = "https://127.0.0.1/" + kUrlPath;
    for (auto _ : state) {
        const std::string reply = ServiceCall(url);
        if (reply.rfind("OK ", 0) != 0) {
            state.SkipWithError(reply.c_str());
            break;
        }
    }
}

void BM_RawTlsBaseline(benchmark::State& state) {
    const std::string request =
        BuildRequest(HostField("127.0.0.1", TlsServer().Port(), 443), kUrlPath);
    for (auto _ : state) {
        if (RawTlsFetch(TlsServer().Port(), request).rfind("OK ", 0) != 0) {
            state.SkipWithError("the minimal TLS client got no reply");
            break;
        }
    }
}

BENCHMARK(BM_RawSocketBaseline)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ServiceCall)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_RawSocketBaseline)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ServiceCall)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_RawTlsBaseline)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ServiceCallTls)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_RawTlsBaseline)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ServiceCallTls)->UseRealTime()->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
