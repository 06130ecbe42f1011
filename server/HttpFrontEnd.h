#pragma once
// The HTTP side of the reference service: the service script and the web pages on one
// listening socket. Every answer closes its connection, as the client reads until the close.

#include "server/ServiceActions.h"
#include "server/Storage.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

namespace server {

struct FrontEndOptions {
    int Threads = 8;
    bool SignupOpen = true;
    std::ostream* AccessLog = nullptr; // one line per request when set; never the query
};

class HttpFrontEnd {
public:
    HttpFrontEnd(Storage& storage, ServiceActions& actions, FrontEndOptions options);
    ~HttpFrontEnd();
    HttpFrontEnd(const HttpFrontEnd&) = delete;
    HttpFrontEnd& operator=(const HttpFrontEnd&) = delete;

    // Binds the listening socket; port 0 picks a free one. Returns the port, or 0 on failure.
    std::uint16_t Bind(const std::string& host, std::uint16_t port);
    // Serves on the calling thread until Stop(); false when it could not serve.
    bool Run();
    // Serves on a thread of its own until Stop().
    void Start();
    // Stops accepting, finishes the requests under way and returns; safe from any thread.
    void Stop();

private:
    class Server;
    std::unique_ptr<Server> server_;
    std::thread thread_;
    std::atomic<bool> runEntered_{false};
    std::atomic<bool> runFinished_{false};
    std::atomic<bool> stopRequested_{false};
};

} // namespace server
