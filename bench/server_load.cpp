// Load on the reference service: N concurrent clients, each alternating an address check
// (getip) and an address report (setip) through the client's own transport, against the
// service on loopback. Reports requests per second and the latency percentiles. Bounded in
// requests and in time, so it always ends by itself.

#include "core/uEndpoint.h"
#include "core/uTools.h"
#include "server/HttpFrontEnd.h"
#include "server/ServiceActions.h"
#include "server/Storage.h"
#include "tests/support/TempFolder.h"
#include "util/uBase64.h"

#include <algorithm>
#include <atomic>
#include <barrier>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Settings {
    int clients = 16;
    int requestsPerClient = 500;
    int maxSeconds = 30;
    int serverThreads = 8;
};

// Reads "--clients=N" style options; other arguments belong to other benchmarks.
Settings ParseSettings(int argc, char** argv) {
    Settings settings;
    const std::pair<const char*, int*> options[] = {
        {"--clients=", &settings.clients},
        {"--requests=", &settings.requestsPerClient},
        {"--seconds=", &settings.maxSeconds},
        {"--server-threads=", &settings.serverThreads},
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        for (const auto& [prefix, target] : options) {
            const std::string_view name = prefix;
            if (arg.substr(0, name.size()) == name) {
                int value = 0;
                const auto text = arg.substr(name.size());
                const auto [end, error] =
                    std::from_chars(text.data(), text.data() + text.size(), value);
                if (error == std::errc{} && end == text.data() + text.size() && value > 0) {
                    *target = value;
                }
            }
        }
    }
    return settings;
}

struct ClientResult {
    std::vector<double> latenciesMs;
    int failures = 0;
    std::string firstFailure;
};

void RunClient(int index, const Settings& settings, const std::string& password,
               Clock::time_point deadline, std::barrier<>& start, ClientResult& result) {
    const std::string userId = "load" + std::to_string(index % 4);
    const std::string host = "HOST-" + std::to_string(index);
    result.latenciesMs.reserve(static_cast<std::size_t>(settings.requestsPerClient));
    start.arrive_and_wait();
    for (int i = 0; i < settings.requestsPerClient && Clock::now() < deadline; ++i) {
        std::string url;
        if (i % 2 == 0) {
            url = ServiceRequestUrl(
                "getip", {{"id", userId}, {"pswd", password}, {"host", host}, {"v", "0.3.11.25"}});
        } else {
            const std::string ip = "10." + std::to_string(index) + '.' +
                                   std::to_string(i / 256 % 256) + '.' + std::to_string(i % 256);
            url = ServiceRequestUrl("setip", {{"id", userId},
                                              {"pswd", password},
                                              {"host", host},
                                              {"ip", ip},
                                              {"v", "0.3.11.25"}});
        }
        const auto begin = Clock::now();
        const std::string reply = ServiceCall(url);
        const auto end = Clock::now();
        result.latenciesMs.push_back(
            std::chrono::duration<double, std::milli>(end - begin).count());
        if (!SplitReply(reply).IsOK()) {
            if (result.failures++ == 0) {
                result.firstFailure = reply;
            }
        }
    }
}

double Percentile(const std::vector<double>& sorted, double fraction) {
    if (sorted.empty()) {
        return 0;
    }
    const auto rank =
        static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(rank, sorted.size() - 1)];
}

} // namespace

int main(int argc, char** argv) {
    const Settings settings = ParseSettings(argc, argv);

    const testing_support::TempFolder folder;
    int exitCode = 0;
    {
        server::Storage storage(folder / "bench.db");
        const std::string password = ScramblePassword("bench");
        for (int i = 0; i < 4; ++i) {
            storage.CreateAccount("load" + std::to_string(i), password, server::SystemNow());
        }
        server::ServiceActions actions(storage, server::UpdateOffer{{0, 3, 11, 25}, {}, {}, {}});
        server::FrontEndOptions options;
        options.Threads = settings.serverThreads;
        options.Limits.MaxConnectionsPerAddress = 4096; // every client comes from 127.0.0.1
        server::HttpFrontEnd frontEnd(storage, actions, options);
        const std::uint16_t port = frontEnd.Bind("127.0.0.1", 0);
        if (port == 0) {
            std::fprintf(stderr, "bench_server: cannot bind a port on 127.0.0.1\n");
            return 1;
        }
        frontEnd.Start();
        SetServiceEndpoint({"127.0.0.1", port});

        std::vector<ClientResult> results(static_cast<std::size_t>(settings.clients));
        std::barrier<> start(settings.clients + 1);
        const auto deadline = Clock::now() + std::chrono::seconds(settings.maxSeconds);
        std::vector<std::thread> clients;
        for (int i = 0; i < settings.clients; ++i) {
            clients.emplace_back(RunClient, i, std::cref(settings), std::cref(password), deadline,
                                 std::ref(start), std::ref(results[static_cast<std::size_t>(i)]));
        }
        start.arrive_and_wait();
        const auto began = Clock::now();
        for (auto& client : clients) {
            client.join();
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
        frontEnd.Stop();

        std::vector<double> latencies;
        int failures = 0;
        std::string firstFailure;
        for (const ClientResult& result : results) {
            latencies.insert(latencies.end(), result.latenciesMs.begin(), result.latenciesMs.end());
            if (result.failures > 0 && firstFailure.empty()) {
                firstFailure = result.firstFailure;
            }
            failures += result.failures;
        }
        std::sort(latencies.begin(), latencies.end());
        const double perSecond = static_cast<double>(latencies.size()) / seconds;
        const double p99 = Percentile(latencies, 0.99);

        std::printf("bench_server: %d clients x %d requests (getip/setip alternating), "
                    "%d server threads, loopback\n",
                    settings.clients, settings.requestsPerClient, settings.serverThreads);
        std::printf("  requests   %zu in %.2f s%s\n", latencies.size(), seconds,
                    static_cast<int>(latencies.size()) <
                            settings.clients * settings.requestsPerClient
                        ? " (stopped by the time limit)"
                        : "");
        std::printf("  failures   %d%s%s\n", failures, failures ? ", first: " : "",
                    firstFailure.c_str());
        std::printf("  throughput %.0f requests/s\n", perSecond);
        std::printf("  latency    p50 %.2f ms, p90 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                    Percentile(latencies, 0.50), Percentile(latencies, 0.90), p99,
                    latencies.empty() ? 0.0 : latencies.back());
        std::printf("  target     >= 2000 requests/s with p99 < 20 ms: %s\n",
                    perSecond >= 2000 && p99 < 20 ? "met" : "NOT met");
        exitCode = failures == 0 ? 0 : 1;
    }
    return exitCode;
}
