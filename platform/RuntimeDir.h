#pragma once
// The folder for this user's locks and sockets.

#include <string>

namespace platform {

// $XDG_RUNTIME_DIR when it names an absolute path; otherwise a folder "corvale-<uid>" of mode
// 0700 in the temporary folder, created when missing. Ends in "/". Empty text when the
// fallback folder cannot be made safe (it exists but is not a folder of ours, closed to
// everyone else).
std::string UserRuntimeDir();

} // namespace platform
