#pragma once
// Facts about this computer and this process.

#include <string>

namespace platform {

// This computer's name, or empty text when it cannot be read.
std::string ComputerName();
// $TMPDIR when set and not empty, else "/tmp/"; always ending in "/".
std::string TempPath();
// Full path of the running program, or empty text when it cannot be read.
std::string ExecutablePath();
// The folder part of a path, with its trailing "/" ("/" for a file in the root; empty
// when the path has no "/").
std::string FolderOf(const std::string& path);

} // namespace platform
