#pragma once
// The scrapers' own socket (off unless asked for): GET /metrics replies with what Metrics
// counted, anything else with 404. One thread; a connection gets a few seconds in all. Meant
// for the loopback or behind a proxy: it asks for no login.

#include "server/Metrics.h"

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace server {

inline constexpr std::string_view kMetricsPath = "/metrics";

class MetricsListener {
public:
    explicit MetricsListener(const Metrics& metrics);
    ~MetricsListener();
    MetricsListener(const MetricsListener&) = delete;
    MetricsListener& operator=(const MetricsListener&) = delete;

    // Listens on `host`:`port` (0 for a free one); the port, or 0 when it cannot.
    std::uint16_t Bind(const std::string& host, std::uint16_t port);
    // Serves on a thread of its own until Stop().
    void Start();
    // Stops and waits for the thread; safe to call again.
    void Stop();

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
    std::thread thread_;
};

} // namespace server
