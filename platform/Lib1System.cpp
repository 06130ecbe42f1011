#include "platform/Lib1System.h"

#include "platform/Process.h"
#include "platform/System.h"

#include <filesystem>
#include <system_error>
#include <vector>

std::string GetTempDir() {
    return platform::TempPath();
}

std::uint32_t RunProgram(const std::string& programPath, const std::string& commandLine,
                         std::uint16_t /*showState: no windows to show here*/, bool wait) {
    // The command-line text, when there is one, is all the program gets: its first word
    // stands where a program name is expected. The program folder is the working folder,
    // taken from the path as the caller means it (relative to the caller's own folder).
    std::error_code ignored;
    const std::string path = std::filesystem::absolute(programPath, ignored).string();
    std::vector<std::string> argv = platform::SplitCommandLine(commandLine);
    if (argv.empty()) {
        argv.push_back(path);
    }
    try {
        return platform::SpawnProgramWithArgv(path, argv, platform::FolderOf(path), wait);
    } catch (const std::system_error& e) {
        throw ERunProgramError(e.code().message());
    }
}
