#pragma once
// The request to end the program that the system sends when the session ends (SIGTERM), the
// terminal closes (SIGHUP) or the user interrupts it (SIGINT), turned into a readable byte so
// that the window thread can handle it in its own loop, outside the signal handler.

namespace platform {

// Installs the handlers once per process and returns the descriptor that becomes readable
// when one of the signals arrived (the same one on every call); -1 when it cannot be set up.
int TerminationSignalFd();

// Consumes what the descriptor holds, so that it waits for the next signal.
void DrainTerminationSignals(int fd);

} // namespace platform
