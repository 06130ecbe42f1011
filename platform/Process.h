#pragma once
// Starting other programs.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Splits a command-line text into arguments at blanks outside double quotes. The quotes are
// removed; there are no escapes. `1 "/opt/my app/"` gives {"1", "/opt/my app/"}.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Starts `program` (argv[0] is the program path itself) with `args`, in the folder
// `workingDir` (unchanged when empty). With `wait`, waits for it to end and returns its exit
// code (128 + signal number when a signal ended it); otherwise returns 0 at once and a
// background reaper collects it. Throws std::system_error when it cannot be started.
std::uint32_t SpawnProgram(const std::string& program, const std::vector<std::string>& args,
                           const std::string& workingDir, bool wait);

} // namespace platform
