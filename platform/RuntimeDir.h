#pragma once
// The folder for this user's locks and sockets: one place per user, the same for every start
// whatever the environment says (a login, ssh, cron, "sudo -u" or "su" each set
// XDG_RUNTIME_DIR differently, or not at all), so that every start finds the others.

#include <string>

namespace platform {

// /run/user/<uid> when it exists, is a folder of ours (not a link) and is closed to everyone
// else (0700); otherwise /tmp/corvale-<uid>, created with mode 0700 when missing and used only
// when it is a folder of ours, not a link, closed to everyone else. Ends in "/". Empty text
// when neither can be had.
//
// Tests of the whole program give every test a folder of its own through
// CORVALE_TEST_RUNTIME_DIR (an absolute path), so that they never meet a client the user runs.
std::string UserRuntimeDir();

// The same choice under other roots (each ending in "/"): `runUserRoot` in place of
// "/run/user/" and `tempRoot` in place of "/tmp/".
std::string UserRuntimeDirUnder(const std::string& runUserRoot, const std::string& tempRoot);

} // namespace platform
