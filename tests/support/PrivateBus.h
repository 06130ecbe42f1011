#pragma once
// A D-Bus session bus of the test's own (dbus-daemon with its own configuration, listening in
// a temporary folder), so that a test never talks to the machine's bus nor sees another
// test's services. Ends with this object, and with the test program should it die first.
// A system-like bus is there too, for the system's services: method calls to anyone but the
// bus itself and the login manager are refused, and no other name can be owned.

#include "tests/support/TempFolder.h"

#include <string>
#include <sys/types.h>

namespace testing_support {

class PrivateBus {
public:
    enum class Kind { Session, System };

    explicit PrivateBus(Kind kind = Kind::Session);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Empty when the bus runs; otherwise why it does not.
    const std::string& Failure() const { return failure_; }
    // The address for DBUS_SESSION_BUS_ADDRESS (or DBUS_SYSTEM_BUS_ADDRESS).
    const std::string& Address() const { return address_; }

private:
    pid_t daemon_ = -1;
    TempFolder folder_; // the configuration and the bus's socket
    std::string address_;
    std::string failure_;
};

} // namespace testing_support
