#include "tests/support/LoopbackSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_support {

LoopbackSocket::LoopbackSocket(BoundOnly) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        throw std::runtime_error("socket failed");
    }
    const int yes = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd_);
        throw std::runtime_error("cannot bind a port of 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
}

LoopbackSocket::LoopbackSocket(int backlog) : LoopbackSocket(BoundOnly{}) {
    if (listen(fd_, backlog) != 0) {
        // The destructor closes the socket: the delegated constructor has finished.
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
}

LoopbackSocket::~LoopbackSocket() {
    close(fd_);
}

void LoopbackSocket::StopAccepting() {
    shutdown(fd_, SHUT_RDWR);
}

std::uint16_t LoopbackSocket::UnusedPort() {
    return LoopbackSocket(BoundOnly{}).Port();
}

} // namespace testing_support
