#include "server/Metrics.h"

#include "core/ServiceContract.h"
#include "server/Health.h"
#include "server/ServiceQuery.h"

#include <cstdio>

namespace server {

namespace {

// The service's actions: any other name a client sends is counted as "other", so that what
// clients send cannot add labels without end.
constexpr std::string_view kKnownActions[] = {"getip",       "setip",      "clver",  "dlupdate",
                                              "gethostlist", "getbuddies", "invite", "exclude"};

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

void Header(std::string& text, std::string_view name, std::string_view type,
            std::string_view help) {
    text += "# HELP ";
    text += name;
    text += ' ';
    text += help;
    text += "\n# TYPE ";
    text += name;
    text += ' ';
    text += type;
    text += '\n';
}

} // namespace

std::string_view RequestKind(std::string_view target) {
    if (IsProbeTarget(target)) {
        return "probe";
    }
    if (target.substr(0, target.find('?')) != kServiceScriptPath) {
        return "page";
    }
    if (const auto query = ParseServiceQuery(target)) {
        for (std::string_view known : kKnownActions) {
            if (query->Action == known) {
                return known;
            }
        }
    }
    return "other";
}

Metrics::Metrics(std::string buildVersion) : buildVersion_(std::move(buildVersion)) {}

void Metrics::CountRequest(std::string_view action, bool succeeded,
                           std::chrono::nanoseconds latency) {
    const double seconds = std::chrono::duration<double>(latency).count();
    std::lock_guard lock(mutex_);
    ++requests_[{std::string(action), succeeded}];
    latency_.Add(kLatencyBounds, seconds);
}

template <std::size_t N>
void Metrics::Histogram<N>::Add(const std::array<double, N>& bounds, double value) {
    for (std::size_t i = 0; i < N; ++i) {
        if (value <= bounds[i]) {
            ++Buckets[i];
            break;
        }
    }
    ++Count;
    Sum += value;
}

template <std::size_t N>
void Metrics::Histogram<N>::Write(std::string& text, std::string_view name,
                                  const std::array<double, N>& bounds) const {
    const std::string prefix(name);
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i < N; ++i) {
        cumulative += Buckets[i];
        text += prefix + "_bucket{le=\"" + Number(bounds[i]) + "\"} " + std::to_string(cumulative) +
                '\n';
    }
    text += prefix + "_bucket{le=\"+Inf\"} " + std::to_string(Count) + '\n';
    text += prefix + "_sum " + Number(Sum) + '\n';
    text += prefix + "_count " + std::to_string(Count) + '\n';
}

void Metrics::CountBatch(std::size_t reports, std::size_t written, bool failed) {
    std::lock_guard lock(mutex_);
    batches_.Add(kBatchBounds, static_cast<double>(reports));
    reportsWritten_ += written;
    failedBatches_ += failed ? 1 : 0;
}

void Metrics::CountDatabaseError() {
    databaseErrors_.fetch_add(1, std::memory_order_relaxed);
}

void Metrics::LoginsFrom(std::function<LoginCounts()> counts) {
    std::lock_guard lock(mutex_);
    logins_ = std::move(counts);
}

void Metrics::CountRefused(RefusedBy limit) {
    refused_[static_cast<std::size_t>(limit)].fetch_add(1, std::memory_order_relaxed);
}

void Metrics::OpenConnectionsFrom(std::function<std::size_t()> count) {
    std::lock_guard lock(mutex_);
    openConnections_ = std::move(count);
}

std::string Metrics::Text() const {
    std::string text;
    std::lock_guard lock(mutex_);

    Header(text, "corvale_build_info", "gauge", "The version of the running service.");
    text += "corvale_build_info{version=\"" + buildVersion_ + "\"} 1\n";

    Header(text, "corvale_requests_total", "counter",
           "Requests replied to, by action and outcome.");
    for (const auto& [key, count] : requests_) {
        text += "corvale_requests_total{action=\"" + key.first + "\",outcome=\"" +
                (key.second ? "ok" : "error") + "\"} " + std::to_string(count) + '\n';
    }

    Header(text, "corvale_request_duration_seconds", "histogram",
           "Time from a request read whole to its reply made.");
    latency_.Write(text, "corvale_request_duration_seconds", kLatencyBounds);

    Header(text, "corvale_open_connections", "gauge",
           "Connections open now, those being refused included.");
    text += "corvale_open_connections " +
            std::to_string(openConnections_ ? openConnections_() : 0) + '\n';

    Header(text, "corvale_connections_refused_total", "counter",
           "Connections that found a limit full (over its address's cap, a health probe is still "
           "answered), by limit.");
    text += "corvale_connections_refused_total{limit=\"connections_in_all\"} " +
            std::to_string(refused_[0].load(std::memory_order_relaxed)) + '\n';
    text += "corvale_connections_refused_total{limit=\"connections_per_address\"} " +
            std::to_string(refused_[1].load(std::memory_order_relaxed)) + '\n';

    const LoginCounts logins = logins_ ? logins_() : LoginCounts{};
    Header(text, "corvale_logins_remembered_total", "counter",
           "Logins proven from memory, with no password hash check.");
    text += "corvale_logins_remembered_total " + std::to_string(logins.Remembered) + '\n';
    Header(text, "corvale_password_checks_total", "counter", "Full password hash checks.");
    text += "corvale_password_checks_total " + std::to_string(logins.FullChecks) + '\n';
    Header(text, "corvale_logins_failed_total", "counter",
           "Logins refused: a wrong password, an unknown account, or too many failures.");
    text += "corvale_logins_failed_total " + std::to_string(logins.Failed) + '\n';

    Header(text, "corvale_reports_written_total", "counter",
           "Address reports recorded by the writing thread's commits.");
    text += "corvale_reports_written_total " + std::to_string(reportsWritten_) + '\n';
    Header(text, "corvale_report_batch_size", "histogram",
           "Address reports in each transaction of the writing thread.");
    batches_.Write(text, "corvale_report_batch_size", kBatchBounds);
    Header(text, "corvale_database_errors_total", "counter",
           "Database failures: each failed transaction of the writing thread, and each other "
           "failure an answer reported.");
    text += "corvale_database_errors_total " +
            std::to_string(databaseErrors_.load(std::memory_order_relaxed) + failedBatches_) + '\n';
    return text;
}

} // namespace server
