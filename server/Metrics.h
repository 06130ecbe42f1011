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

// What the login checks counted so far, as the authenticator keeps them.
struct LoginCounts {
    std::uint64_t Remembered = 0; // proven from memory, with no hash check
    std::uint64_t FullChecks = 0; // full password hash checks
    std::uint64_t Failed = 0;     // refused: a wrong password, an unknown account, or throttled
};

// The limits that refuse a connection before its request is read.
enum class RefusedBy { ConnectionsInAll, ConnectionsPerAddress };

class Metrics {
public:
    explicit Metrics(std::string buildVersion);

    // One reply made: `action` is the service action when it is one the service knows, else
    // a word for the kind of request; `outcome` whether the reply was a success.
    void CountRequest(std::string_view action, bool succeeded, std::chrono::nanoseconds latency);
    void CountRefused(RefusedBy limit);
    // One transaction of the writing thread: `reports` in it, `written` of them recorded;
    // `failed` when the database failed it and nothing was kept.
    void CountBatch(std::size_t reports, std::size_t written, bool failed);
    // A database failure that an answer had to report.
    void CountDatabaseError();

    // Where the open connections are read at each scrape; empty for none.
    void OpenConnectionsFrom(std::function<std::size_t()> count);
    // Where the login counts are read at each scrape; empty for none.
    void LoginsFrom(std::function<LoginCounts()> counts);

    // The whole exposition, ending with a line break.
    std::string Text() const;

    // The upper bounds of the latency histogram's buckets, in seconds.
    static constexpr std::array<double, 14> kLatencyBounds = {
        0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};
    // The upper bounds of the batch size histogram's buckets, in reports.
    static constexpr std::array<double, 10> kBatchBounds = {1, 2, 4, 8, 16, 32, 64, 128, 256, 512};

private:
    template <std::size_t N> struct Histogram {
        std::array<std::uint64_t, N> Buckets{}; // not cumulative
        std::uint64_t Count = 0;
        double Sum = 0;
        void Add(const std::array<double, N>& bounds, double value);
        void Write(std::string& text, std::string_view name,
                   const std::array<double, N>& bounds) const;
    };

    const std::string buildVersion_;
    mutable std::mutex mutex_;
    std::map<std::pair<std::string, bool>, std::uint64_t> requests_;
    Histogram<kLatencyBounds.size()> latency_;
    Histogram<kBatchBounds.size()> batches_;
    std::uint64_t reportsWritten_ = 0;
    std::uint64_t failedBatches_ = 0;
    std::atomic<std::uint64_t> databaseErrors_{0};
    std::function<LoginCounts()> logins_;
    std::array<std::atomic<std::uint64_t>, 2> refused_{};
    std::function<std::size_t()> openConnections_;
};

// The word a request is counted under: the service action when it is a known one, "other"
// for any other action, "probe" for the health probes, "page" for everything else.
std::string_view RequestKind(std::string_view target);

} // namespace server
