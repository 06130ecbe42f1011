#include "platform/NetworkWatch.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

constexpr std::size_t Align(std::size_t length) {
    return (length + NLMSG_ALIGNTO - 1) & ~static_cast<std::size_t>(NLMSG_ALIGNTO - 1);
}

// A route report is of interest when it is a default route (no destination bits) of the
// main table: the way out of this machine changed.
bool IsDefaultRoute(const unsigned char* payload, std::size_t length) {
    rtmsg route{};
    if (length < sizeof route) {
        return false;
    }
    std::memcpy(&route, payload, sizeof route);
    return route.rtm_dst_len == 0 && route.rtm_table == RT_TABLE_MAIN;
}

bool IsChange(const unsigned char* message, std::size_t length) {
    nlmsghdr header{};
    std::memcpy(&header, message, sizeof header);
    const unsigned char* payload = message + Align(sizeof header);
    const std::size_t payloadLength = length - Align(sizeof header);
    switch (header.nlmsg_type) {
    case RTM_NEWADDR:
    case RTM_DELADDR:
        return true;
    case RTM_NEWROUTE:
    case RTM_DELROUTE:
        return IsDefaultRoute(payload, payloadLength);
    default:
        return false;
    }
}

} // namespace

TNetworkWatch::TNetworkWatch() {
    fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd_ < 0) {
        failure_ = std::string("no routing netlink socket: ") + std::strerror(errno);
        return;
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups =
        RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    sockaddr generic{};
    static_assert(sizeof address <= sizeof generic);
    std::memcpy(&generic, &address, sizeof address);
    if (::bind(fd_, &generic, sizeof address) != 0) {
        failure_ =
            std::string("the address and route reports cannot be joined: ") + std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
    }
}

TNetworkWatch::~TNetworkWatch() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool TNetworkWatch::TakeChanges() {
    if (fd_ < 0) {
        return false;
    }
    bool changed = false;
    std::vector<unsigned char> buffer(32 * 1024);
    for (;;) {
        const ssize_t received = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (received < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == ENOBUFS) {
                changed = true; // reports were dropped: one of them may have been a change
                continue;
            }
            return changed; // EAGAIN: all read
        }
        std::size_t offset = 0;
        const auto total = static_cast<std::size_t>(received);
        while (offset + sizeof(nlmsghdr) <= total) {
            nlmsghdr header{};
            std::memcpy(&header, buffer.data() + offset, sizeof header);
            if (header.nlmsg_len < sizeof header || offset + header.nlmsg_len > total) {
                break; // a truncated report ends the datagram
            }
            changed = IsChange(buffer.data() + offset, header.nlmsg_len) || changed;
            offset += Align(header.nlmsg_len);
        }
    }
}

} // namespace platform
