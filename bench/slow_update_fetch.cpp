// The update download exactly as the update task makes it: the service's "dlupdate" fetched
// into a file with the transport's default limits. Prints how it ended, how many bytes
// arrived and how long it took. Driven by bench/slow-update.

#include "core/Net.h"
#include "core/uEndpoint.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s HOST PORT TARGET-FILE\n", argv[0]);
        return 2;
    }
    SetServiceEndpoint({argv[1], static_cast<std::uint16_t>(std::atoi(argv[2]))});
    const TServiceEndpoint endpoint = ServiceEndpoint();
    const auto started = std::chrono::steady_clock::now();
    const TFetchResult result =
        Fetch({.Url = ServiceRequestUrl("dlupdate"), .Port = endpoint.Port, .FileName = argv[3]});
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    std::error_code ignored;
    const auto bytes = std::filesystem::file_size(argv[3], ignored);
    std::printf("ok=%s bytes=%llu seconds=%.1f\n", result.Ok ? "yes" : "no",
                static_cast<unsigned long long>(ignored ? 0 : bytes), took.count());
    return result.Ok ? 0 : 1;
}
