#include "tests/support/LoopbackServer.h"

#include "tests/support/HttpText.h"

#include <algorithm>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_support {

ScriptedReply ScriptedReply::Http(const std::string& body) {
    ScriptedReply reply;
    reply.chunks = {"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + body};
    return reply;
}

ScriptedReply ScriptedReply::ByteByByte(const std::string& bytes) {
    ScriptedReply reply;
    for (char c : bytes) {
        reply.chunks.emplace_back(1, c);
    }
    reply.gap = std::chrono::milliseconds(2);
    return reply;
}

namespace {

// Reads until the blank line that ends a request head, the peer's close, or a time-out.
std::string ReadRequest(int fd) {
    return ReadRequestHead([fd](char* buffer, std::size_t size) -> ssize_t {
        pollfd entry{fd, POLLIN, 0};
        return poll(&entry, 1, 5000) <= 0 ? -1 : recv(fd, buffer, size, 0);
    });
}

bool SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

LoopbackServer::LoopbackServer() {
    fallback_ = ScriptedReply::Http("OK");
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        requestArrived_.notify_all();
        for (int fd : openFds_) {
            shutdown(fd, SHUT_RDWR);
        }
    }
    listener_.StopAccepting();
    acceptThread_.join();
    for (auto& worker : workers_) {
        worker.join();
    }
}

void LoopbackServer::Enqueue(ScriptedReply reply) {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(reply));
}

void LoopbackServer::SetFallback(ScriptedReply reply) {
    std::lock_guard lock(mutex_);
    fallback_ = std::move(reply);
}

void LoopbackServer::ReleaseHeldReplies() {
    {
        std::lock_guard lock(mutex_);
        released_ = true;
    }
    requestArrived_.notify_all();
}

std::vector<std::string> LoopbackServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool LoopbackServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return WaitUntil(
        requestArrived_, lock, [&] { return requests_.size() >= count; }, timeout);
}

std::uint16_t LoopbackServer::UnusedPort() {
    return LoopbackSocket::UnusedPort();
}

ScriptedReply LoopbackServer::NextReply() {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) {
        return fallback_;
    }
    ScriptedReply reply = std::move(queue_.front());
    queue_.pop_front();
    return reply;
}

void LoopbackServer::AcceptLoop() {
    for (;;) {
        const int fd = accept4(listener_.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
        std::lock_guard lock(mutex_);
        if (fd < 0 || stopping_) {
            if (fd >= 0) {
                close(fd);
            }
            if (stopping_) {
                return;
            }
            continue;
        }
        openFds_.push_back(fd);
        workers_.emplace_back([this, fd] { Serve(fd); });
    }
}

void LoopbackServer::Serve(int fd) {
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    std::string request = ReadRequest(fd);
    ScriptedReply reply = NextReply();
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(request));
    }
    requestArrived_.notify_all();

    {
        std::unique_lock lock(mutex_);
        requestArrived_.wait_for(lock, std::chrono::seconds(10), [&] {
            return stopping_ ||
                   ((!reply.held || released_) && requests_.size() >= reply.afterRequests);
        });
    }
    std::this_thread::sleep_for(reply.delayBeforeReply);
    // A client that has gone gets nothing more: sending stops at the first failure.
    bool sending = true;
    for (std::size_t i = 0; sending && i < reply.chunks.size(); ++i) {
        if (i > 0) {
            std::this_thread::sleep_for(reply.gap);
        }
        sending = SendAll(fd, reply.chunks[i]);
    }
    const std::string filler(64 * 1024, 'x');
    for (std::uint64_t left = reply.fillerBytes; sending && left > 0;) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, filler.size()));
        sending = SendAll(fd, std::string_view(filler).substr(0, piece));
        left -= piece;
    }
    if (reply.ending == ScriptedReply::Ending::Hang) {
        pollfd entry{fd, POLLIN, 0};
        while (poll(&entry, 1, 100) >= 0) { // until the client closes or the server stops
            char sink[256];
            if ((entry.revents & (POLLIN | POLLHUP)) && recv(fd, sink, sizeof sink, 0) <= 0) {
                break;
            }
            std::lock_guard lock(mutex_);
            if (stopping_) {
                break;
            }
        }
    } else if (reply.ending == ScriptedReply::Ending::Reset) {
        // Let the client read what was sent first: a reset discards unread data.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const linger abort{1, 0}; // close with RST instead of FIN
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    std::lock_guard lock(mutex_);
    std::erase(openFds_, fd);
    close(fd);
}

} // namespace testing_support
