#include "server/AddressGroup.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>

namespace server {

std::string AddressGroup(const std::string& address) {
    std::array<unsigned char, 16> bytes{};
    if (address.find(':') == std::string::npos ||
        inet_pton(AF_INET6, address.c_str(), bytes.data()) != 1) {
        return address;
    }
    std::fill(bytes.begin() + 8, bytes.end(), 0);
    std::array<char, INET6_ADDRSTRLEN> text{};
    inet_ntop(AF_INET6, bytes.data(), text.data(), text.size());
    return std::string(text.data()) + "/64";
}

} // namespace server
