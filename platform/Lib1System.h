#pragma once
// The helpers of the shared Lib1 unit that reach the operating system: the temporary folder
// and starting another program. The unit's text helpers are in util/Lib1.h.

#include <cstdint>
#include <stdexcept>
#include <string>

// Raised by RunProgram when the program cannot be started; the message is the system's text.
class ERunProgramError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The system's temporary folder, always ending in "/".
std::string GetTempDir();

// Show states that RunProgram accepts (kept for callers; they have no effect here).
inline constexpr std::uint16_t SW_HIDE = 0;
inline constexpr std::uint16_t SW_SHOWNORMAL = 1;

// Starts `programPath` in the program's own folder. The words of `commandLine` (split at
// blanks outside double quotes) are its whole argument vector, the first one standing where
// a program name is expected ("1 \"<folder>\"" gives the folder as its first real argument);
// with no words, the program's name is its path. A relative path counts from the caller's
// folder. With `wait`, returns the program's exit code once it ends; without, returns 0 at
// once. Throws ERunProgramError when it cannot be started.
std::uint32_t RunProgram(const std::string& programPath, const std::string& commandLine,
                         std::uint16_t showState, bool wait);
