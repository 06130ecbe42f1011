#pragma once
// Starting other programs.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Splits a command-line text into arguments at blanks outside double quotes. The quotes are
// removed; there are no escapes. `1 "/opt/my app/"` gives {"1", "/opt/my app/"}.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Starts the file `program` with the argument vector `argv` (argv[0] included: it is what the
// program sees as its name, not what runs), in the folder `workingDir` (unchanged when
// empty). A relative `program` is found from the caller's folder, not from `workingDir`.
// With `wait`, waits for it to end and returns its exit code (128 + signal number when a
// signal ended it); otherwise returns 0 at once and a background reaper collects it. Throws
// std::system_error when it cannot be started.
std::uint32_t SpawnProgramWithArgv(const std::string& program, const std::vector<std::string>& argv,
                                   const std::string& workingDir, bool wait);

// The same with argv[0] the program path itself, followed by `args`.
std::uint32_t SpawnProgram(const std::string& program, const std::vector<std::string>& args,
                           const std::string& workingDir, bool wait);

} // namespace platform
