#pragma once
// Watches the system's addresses and default routes through a routing netlink socket, so
// that the client can check its public address again when the network it is on changes.

#include <string>

namespace platform {

class TNetworkWatch {
public:
    // Opens the socket and joins the address and route groups of IPv4 and IPv6.
    TNetworkWatch();
    ~TNetworkWatch();
    TNetworkWatch(const TNetworkWatch&) = delete;
    TNetworkWatch& operator=(const TNetworkWatch&) = delete;

    // Readable when the system reported something; -1 when the watch could not be opened.
    int Fd() const { return fd_; }
    // Empty while the watch works; otherwise why it does not, in one line.
    const std::string& Failure() const { return failure_; }

    // Reads every report waiting, without blocking: true when one of them added or removed
    // an address, or a default route of the main table. Reports lost because too many came
    // at once count as a change.
    bool TakeChanges();

private:
    int fd_ = -1;
    std::string failure_;
};

} // namespace platform
