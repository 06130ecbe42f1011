#pragma once
// Several clients sending address reports to one service as fast as they are answered, each
// report with an address of its own: client C's report number N is for its host
// "storm-C-(N mod hosts)", with the address that encodes N. What each client sent and which of
// its reports were answered "OK" is kept for each host, so that a test can tell whether every
// acknowledged report reached the database.

#include "tests/server/RunningServer.h"
#include "tests/support/Wait.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class ReportStorm {
public:
    // Reports numbered from `firstSequence` on (at most 2^24 - 1 in all).
    ReportStorm(std::uint16_t port, std::string userId, std::string storedPassword, int clients,
                int hosts = 1, int firstSequence = 1)
        : port_(port), userId_(std::move(userId)), password_(std::move(storedPassword)),
          hosts_(hosts) {
        for (int c = 0; c < clients; ++c) {
            clients_.push_back(std::make_unique<Client>(hosts));
        }
        for (int c = 0; c < clients; ++c) {
            threads_.emplace_back([this, c, firstSequence] { Run(c, firstSequence); });
        }
    }
    ~ReportStorm() { Stop(); }
    ReportStorm(const ReportStorm&) = delete;
    ReportStorm& operator=(const ReportStorm&) = delete;

    void Stop() {
        stopping_ = true;
        for (std::thread& thread : threads_) {
            thread.join();
        }
        threads_.clear();
    }

    int Clients() const { return static_cast<int>(clients_.size()); }
    int Hosts() const { return hosts_; }
    // The number of the last report of client `c` for its host `h` answered "OK" (0 for none),
    // and of the last one it sent for that host.
    int Acknowledged(int c, int h) const {
        return clients_[static_cast<std::size_t>(c)]->Acked[static_cast<std::size_t>(h)];
    }
    int Sent(int c, int h) const {
        return clients_[static_cast<std::size_t>(c)]->Sent[static_cast<std::size_t>(h)];
    }
    // The last report client `c` sent, for any host.
    int LastSent(int c) const { return clients_[static_cast<std::size_t>(c)]->LastSent; }
    // Replies that were neither "OK" nor an error answer ("ERR ..."), e.g. no reply at all.
    int Unanswered() const { return unanswered_; }
    int Refused() const { return refused_; }
    int TotalAcknowledged() const { return okCount_; }

    // Whether every client has had at least `count` reports acknowledged within the wait.
    bool WaitForAcknowledged(int count) const {
        return WaitUntil(
            [&] {
                return std::all_of(clients_.begin(), clients_.end(),
                                   [&](const auto& client) { return client->AckedCount >= count; });
            },
            std::chrono::seconds(60));
    }

    static std::string HostName(int c, int h) {
        return "storm-" + std::to_string(c) + "-" + std::to_string(h);
    }
    static std::string Address(int sequence) {
        return "10." + std::to_string((sequence >> 16) & 255) + "." +
               std::to_string((sequence >> 8) & 255) + "." + std::to_string(sequence & 255);
    }
    static std::optional<int> SequenceOf(const std::string& address) {
        unsigned a = 0, b = 0, c = 0, d = 0;
        char end = 0;
        if (std::sscanf(address.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &end) != 4 || a != 10) {
            return std::nullopt;
        }
        return static_cast<int>((b << 16) | (c << 8) | d);
    }

private:
    struct Client {
        explicit Client(int hosts)
            : Sent(static_cast<std::size_t>(hosts)), Acked(static_cast<std::size_t>(hosts)) {}
        std::vector<std::atomic<int>> Sent;
        std::vector<std::atomic<int>> Acked;
        std::atomic<int> LastSent{0};
        std::atomic<int> AckedCount{0};
    };

    void Run(int c, int firstSequence) {
        Client& client = *clients_[static_cast<std::size_t>(c)];
        for (int sequence = firstSequence; !stopping_; ++sequence) {
            const int h = sequence % hosts_;
            client.Sent[static_cast<std::size_t>(h)] = sequence;
            client.LastSent = sequence;
            const std::string reply =
                RawExchange(port_, "GET /bin/corvale/cmd.php?action=setip&id=" + userId_ +
                                       "&pswd=" + password_ + "&host=" + HostName(c, h) + "&ip=" +
                                       Address(sequence) + "&v=0.3.11.25 HTTP/1.0\r\n\r\n");
            const auto body = reply.find("\r\n\r\n");
            const std::string text = body == std::string::npos ? "" : reply.substr(body + 4);
            if (text == "OK") {
                client.Acked[static_cast<std::size_t>(h)] = sequence;
                ++client.AckedCount;
                ++okCount_;
            } else if (text.rfind("ERR", 0) == 0) {
                ++refused_;
            } else {
                ++unanswered_;
                std::this_thread::sleep_for(std::chrono::milliseconds(5)); // the service is gone
            }
        }
    }

    std::uint16_t port_;
    std::string userId_;
    std::string password_;
    int hosts_;
    std::vector<std::unique_ptr<Client>> clients_;
    std::vector<std::thread> threads_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> unanswered_{0};
    std::atomic<int> refused_{0};
    std::atomic<int> okCount_{0};
};

} // namespace testing_support
