#pragma once
// The folder for this user's locks and sockets: one place per user, the same for every start
// whatever the session sets (a login, ssh, cron, "sudo -u" or "su" each set XDG_RUNTIME_DIR
// differently, or not at all) and whether the user has a session at all, so that every start
// finds the others.

#include <string>

namespace platform {

// CORVALE_RUNTIME_DIR when it is set and not empty: an absolute path to a folder of ours (not a
// link) that is closed to everyone else (0700); when it names anything else there is no such
// folder, so that a copy asked to keep apart never meets another in the shared place. Starts
// that name different folders do not see each other.
//
// Otherwise /tmp/corvale-<uid>, created with mode 0700 when missing and used only when it is a
// folder of ours, not a link, closed to everyone else. Not /run/user/<uid>: that folder exists
// only while the user has a session, so a start before the first login (cron, "sudo -u") and
// a start from the desktop would lock in different places.
//
// Ends in "/". Empty text when no folder can be had.
std::string UserRuntimeDir();

// The same choice under another root (ending in "/") in place of "/tmp/".
std::string UserRuntimeDirUnder(const std::string& tempRoot);

} // namespace platform
