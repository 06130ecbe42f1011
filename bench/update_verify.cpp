// Verifying a 100 MB update package beside downloading it over loopback, in one run: the
// package is served by a loopback server, fetched into a file as the update does, then read
// back and checked against its signature (made with the signing tool and a throw-away key).
// Prints both times and their ratio; three rounds, the best of each counts.

#include "core/Net.h"
#include "platform/Files.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/SigningKeys.h"
#include "util/uSignature.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr std::size_t kPackageBytes = 100u * 1000 * 1000;
using Seconds = std::chrono::duration<double>;

} // namespace

int main() {
    namespace fs = std::filesystem;
    const testing_support::SigningKeys keys;
    const fs::path folder =
        fs::temp_directory_path() / ("corvale-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path served = folder / "package";
    const fs::path fetched = folder / "cvlupf.exe";
    std::string bytes(kPackageBytes, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    }
    std::string reason;
    const auto signature =
        ParseUpdateSignature(keys.Sign(bytes, "corvale-update version=0.3.12.30"), reason);
    const auto key = ParseUpdatePublicKey(keys.KeyLine("operator"), reason);
    if (!signature || !key) {
        std::fprintf(stderr, "cannot sign the package: %s\n", reason.c_str());
        return 1;
    }

    testing_support::LoopbackServer server;
    double download = 1e9;
    double verify = 1e9;
    for (int round = 0; round < 3; ++round) {
        testing_support::ScriptedReply reply;
        reply.chunks = {"HTTP/1.0 200 OK\r\n\r\n" + bytes};
        server.Enqueue(reply);
        fs::remove(fetched);
        auto started = std::chrono::steady_clock::now();
        const TFetchResult result =
            Fetch({.Url = "http://127.0.0.1/bin/corvale/cmd.php?action=dlupdate",
                   .Port = server.Port(),
                   .FileName = fetched.string()});
        download = std::min(download, Seconds(std::chrono::steady_clock::now() - started).count());
        if (!result.Ok || fs::file_size(fetched) != kPackageBytes) {
            std::fprintf(stderr, "the download failed\n");
            return 1;
        }

        started = std::chrono::steady_clock::now();
        TSignatureVerifier verifier;
        const bool read = platform::ReadFileInChunks(
            fetched.string(),
            [&](const unsigned char* data, std::size_t size) { verifier.Update(data, size); });
        const bool good = read && verifier.Finish(*signature, {*key}, reason);
        verify = std::min(verify, Seconds(std::chrono::steady_clock::now() - started).count());
        if (!good) {
            std::fprintf(stderr, "the package does not verify: %s\n", reason.c_str());
            return 1;
        }
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    std::printf("package %zu bytes\ndownload over loopback %.3f s\nverify from disk %.3f s\n"
                "verify / download %.2f\n",
                kPackageBytes, download, verify, verify / download);
    return 0;
}
