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
    for (std::size_t i = 0; i < kLatencyBounds.size(); ++i) {
        if (seconds <= kLatencyBounds[i]) {
            ++latency_.Buckets[i];
            break;
        }
    }
    ++latency_.Count;
    latency_.Sum += seconds;
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
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i < kLatencyBounds.size(); ++i) {
        cumulative += latency_.Buckets[i];
        text += "corvale_request_duration_seconds_bucket{le=\"" + Number(kLatencyBounds[i]) +
                "\"} " + std::to_string(cumulative) + '\n';
    }
    text += "corvale_request_duration_seconds_bucket{le=\"+Inf\"} " +
            std::to_string(latency_.Count) + '\n';
    text += "corvale_request_duration_seconds_sum " + Number(latency_.Sum) + '\n';
    text += "corvale_request_duration_seconds_count " + std::to_string(latency_.Count) + '\n';

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
    return text;
}

} // namespace server
