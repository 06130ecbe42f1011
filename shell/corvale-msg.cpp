// Sends one window message to the running Corvale client and prints its answer, as another
// program would: "Corvale_EXE" (the window's handle), 0x7E8 (release the companion module:
// 1) or 0x7E9 (the length of the user ID).

#include "platform/LocalMessages.h"

#include <chrono>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(stderr,
                     "usage: corvale-msg MESSAGE\n"
                     "       corvale-msg --help\n"
                     "  MESSAGE  a number (decimal, or hexadecimal with 0x) or a registered\n"
                     "           message name such as Corvale_EXE\n"
                     "Prints the running client's answer. Exit status 0 when it answered,\n"
                     "1 when no running client answered, 2 for a usage error.\n");
        return 2;
    }
    const auto message = platform::MessageNumberFromText(argv[1]);
    if (!message) {
        std::fprintf(stderr, "corvale-msg: not a message: %s\n", argv[1]);
        return 2;
    }
    const std::string path = platform::LocalMessageSocketPath(platform::kClientMessageName);
    const auto answer = platform::SendLocalMessage(path, *message, std::chrono::seconds(5));
    if (!answer) {
        std::fprintf(stderr, "corvale-msg: no running Corvale answered at %s\n", path.c_str());
        return 1;
    }
    std::printf("%lld\n", static_cast<long long>(*answer));
    return 0;
}
