#include "platform/Lib1System.h"

#include "platform/Process.h"
#include "platform/System.h"

#include <system_error>

std::string GetTempDir() {
    return platform::TempPath();
}

std::uint32_t RunProgram(const std::string& programPath, const std::string& commandLine,
                         std::uint16_t /*showState: no windows to show here*/, bool wait) {
    try {
        return platform::SpawnProgram(programPath, platform::SplitCommandLine(commandLine),
                                      platform::FolderOf(programPath), wait);
    } catch (const std::system_error& e) {
        throw ERunProgramError(e.code().message());
    }
}
