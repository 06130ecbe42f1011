// One service call round trip against a loopback server, beside a minimal raw-socket client
// that sends the same request to the same server. The ratio of the two shows what our
// transport costs over the bare system calls. The same pair over TLS: our call beside a
// minimal client of the TLS library doing the same handshake and request.

#include "core/Net.h"
#include "core/uEndpoint.h"
#include "core/uTools.h"
#include "tests/support/HttpText.h"
#include "tests/support/LoopbackSocket.h"
#include "tests/support/RawLoopbackClient.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestCertificates.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <csignal>
#include <functional>
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

// Answers one connection after another on its own thread with `answer`, then closes it.
class TinyServer {
public:
    explicit TinyServer(std::function<void(int fd)> answer)
        : answer_(std::move(answer)), listener_(128), thread_([this] { Serve(); }) {}
    ~TinyServer() {
        stop_ = true;
        listener_.StopAccepting();
        thread_.join();
    }
    std::uint16_t Port() const { return listener_.Port(); }

private:
    void Serve() {
        while (!stop_) {
            const int c = accept(listener_.Fd(), nullptr, nullptr);
            if (c < 0) {
                continue;
            }
            answer_(c);
            close(c);
        }
    }
    std::function<void(int fd)> answer_;
    testing_support::LoopbackSocket listener_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Reads the request head, sends the reply.
TinyServer& Server() {
    static TinyServer server([](int c) {
        testing_support::ReadRequestHead(
            [c](char* buffer, std::size_t size) { return recv(c, buffer, size, 0); });
        send(c, kReply.data(), kReply.size(), MSG_NOSIGNAL);
    });
    return server;
}

const std::string kUrlPath =
    "bin/corvale/"
    "cmd.php?action=getip&id=jdoe&pswd=UU9qT3doRVNhdTFWRnFEUQ==&host=OFFICE-PC&v=0.3.11.25";

// The least a client can do: connect, one send, read to the close, keep the bytes after the
// head.
std::string RawFetch(std::uint16_t port, const std::string& request) {
    testing_support::RawLoopbackClient client(port);
    client.Send(request);
    return testing_support::BodyOf(client.ReadToClose());
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

// Makes the handshake, reads the request head, replies and ends the session.
TinyServer& TlsServer() {
    static TinyServer server([](int c) {
        SSL* ssl = SSL_new(Tls().server);
        SSL_set_fd(ssl, c);
        if (SSL_accept(ssl) == 1) {
            testing_support::ReadRequestHead([ssl](char* buffer, std::size_t size) {
                return SSL_read(ssl, buffer, static_cast<int>(size));
            });
            SSL_write(ssl, kReply.data(), static_cast<int>(kReply.size()));
            SSL_shutdown(ssl);
        }
        SSL_free(ssl);
        ERR_clear_error();
    });
    return server;
}

// The least a TLS client can do with the same checks: connect, handshake verifying the
// certificate and its address, one write, read to the close, keep the bytes after the head.
std::string RawTlsFetch(std::uint16_t port, const std::string& request) {
    const testing_support::RawLoopbackClient client(port);
    SSL* ssl = SSL_new(Tls().client);
    SSL_set_fd(ssl, client.Fd());
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
    return testing_support::BodyOf(all);
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
