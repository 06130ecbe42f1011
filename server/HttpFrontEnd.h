#pragma once
// The HTTP side of the reference service: the service script and the web pages on one or more
// listening sockets. Event-driven: a few threads carry every connection through its reads and
// writes, bounded by HttpLimits, while the replies (database work and password checks) are
// made on a small pool of workers, so a slow disk never stalls accepting. Every reply closes
// its connection, as the client reads until the close.

#include "server/HttpLimits.h"
#include "server/Metrics.h"
#include "server/Result.h"
#include "server/ServiceActions.h"
#include "server/StorageEngine.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace server {

struct FrontEndOptions {
    int Threads = 8;   // workers that make replies
    int IoThreads = 2; // threads that carry the connections
    bool SignupOpen = true;
    std::ostream* AccessLog = nullptr; // one line per request when set; never the query
    HttpLimits Limits;
    // How long the readiness probe's write check stands before the next probe checks again.
    std::chrono::steady_clock::duration ReadinessKept = std::chrono::seconds(1);
    Metrics* Counted = nullptr; // what is served and refused is counted there when set
    // While this file exists, the last I/O loop hangs (until the stop), as a hung loop would.
    std::string StallFileForTests = {};
    bool AccessLogToJournal = false; // the access log's lines go to the journal, with fields
};

class HttpFrontEnd {
public:
    HttpFrontEnd(StorageEngine& storage, ServiceActions& actions, FrontEndOptions options);
    ~HttpFrontEnd();
    HttpFrontEnd(const HttpFrontEnd&) = delete;
    HttpFrontEnd& operator=(const HttpFrontEnd&) = delete;

    // Opens one more listening socket; port 0 picks a free one. Returns the port, or 0 on
    // failure (also for a secure one before UseCertificate). A name is looked up and its
    // first address used. A secure socket serves HTTPS.
    std::uint16_t Bind(const std::string& host, std::uint16_t port, bool secure = false);
    // The certificate chain and key (PEM text) for the secure sockets; a refusal that says
    // why when they are unusable.
    Result<void> UseCertificate(const std::string& certificateChain, const std::string& key);
    // Another certificate chain and key for the connections accepted from now on; those open
    // go on with the one they began with. A refused pair leaves the one in use serving.
    // Safe from any thread.
    Result<void> ReplaceCertificate(const std::string& certificateChain, const std::string& key);
    // Serves on the calling thread (and the other I/O threads) until Stop(); false when it
    // could not serve. `whenServing` is called on an I/O thread once every listener accepts.
    bool Run(std::function<void()> whenServing = {});
    // Serves on a thread of its own until Stop().
    void Start();
    // Stops accepting, ends connections still sending their request, lets the replies under
    // way finish (a few seconds at most) and returns; safe from any thread.
    void Stop();

    // Connections open right now, refused ones included.
    std::size_t OpenConnections() const;
    // Requests replied to so far.
    std::uint64_t RequestsServed() const;
    // One count for each I/O loop that grows while the loop runs its handlers; one that
    // stands still belongs to a hung loop.
    std::vector<std::uint64_t> LoopProgress() const;

private:
    class Impl; // the sockets, loops and workers: Asio stays out of this header
    std::unique_ptr<Impl> impl_;
    std::thread thread_;
};

} // namespace server
