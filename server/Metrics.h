#pragma once
// What the service counts about itself, as the parts that serve see it, and the text a scraper
// reads (the Prometheus text exposition format). Every label is a fixed word of the service's
// own (an action's name, an outcome, a limit): never a user ID, a host name or an address.
// Safe to use from any thread.

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

namespace server {

// The limits that refuse a connection before its request is read.
enum class RefusedBy { ConnectionsInAll, ConnectionsPerAddress };

class Metrics {
public:
    explicit Metrics(std::string buildVersion);

    // One reply made: `action` is the service action when it is one the service knows, else
    // a word for the kind of request; `outcome` whether the reply was a success.
    void CountRequest(std::string_view action, bool succeeded, std::chrono::nanoseconds latency);
    void CountRefused(RefusedBy limit);

    // Where the open connections are read at each scrape; empty for none.
    void OpenConnectionsFrom(std::function<std::size_t()> count);

    // The whole exposition, ending with a line break.
    std::string Text() const;

    // The upper bounds of the latency histogram's buckets, in seconds.
    static constexpr std::array<double, 14> kLatencyBounds = {
        0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};

private:
    struct Histogram {
        std::array<std::uint64_t, kLatencyBounds.size()> Buckets{}; // not cumulative
        std::uint64_t Count = 0;
        double Sum = 0;
    };

    const std::string buildVersion_;
    mutable std::mutex mutex_;
    std::map<std::pair<std::string, bool>, std::uint64_t> requests_;
    Histogram latency_;
    std::array<std::atomic<std::uint64_t>, 2> refused_{};
    std::function<std::size_t()> openConnections_;
};

// The word a request is counted under: the service action when it is a known one, "other"
// for any other action, "probe" for the health probes, "page" for everything else.
std::string_view RequestKind(std::string_view target);

} // namespace server
