#include "platform/TerminationSignal.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace platform {

namespace {

int writeEnd = -1;

extern "C" void NoteTerminationSignal(int) {
    const int savedErrno = errno; // the interrupted code may be looking at errno
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(writeEnd, &byte, 1); // a full pipe already says it
    errno = savedErrno;
}

int InstallHandlers() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return -1;
    }
    writeEnd = fds[1];
    struct sigaction action {};
    action.sa_handler = NoteTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    return fds[0];
}

} // namespace

int TerminationSignalFd() {
    static const int readEnd = InstallHandlers();
    return readEnd;
}

void DrainTerminationSignals(int fd) {
    char buffer[64];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
}

} // namespace platform
