// One service call round trip against a loopback server, beside a minimal raw-socket client
// that sends the same request to the same server. The ratio of the two shows what our
// transport costs over the bare system calls.

#include "core/Net.h"
#include "core/uEndpoint.h"
#include "core/uTools.h"

#include <arpa/inet.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
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

BENCHMARK(BM_RawSocketBaseline)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ServiceCall)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_RawSocketBaseline)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ServiceCall)->UseRealTime()->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
