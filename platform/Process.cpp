#include "platform/Process.h"

#include <cerrno>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>

extern char** environ;

namespace platform {

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
    std::vector<std::string> args;
    std::string current;
    bool inQuotes = false;
    bool inArgument = false;
    for (char c : commandLine) {
        if (c == '"') {
            inQuotes = !inQuotes;
            inArgument = true; // "" is an empty argument of its own
        } else if (c == ' ' && !inQuotes) {
            if (inArgument) {
                args.push_back(std::move(current));
                current.clear();
                inArgument = false;
            }
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument) {
        args.push_back(std::move(current));
    }
    return args;
}

namespace {

// posix_spawn's small C resources, released on every path.
struct SpawnActions {
    posix_spawn_file_actions_t actions{};
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
};

std::uint32_t WaitForExitCode(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return 0; // the exit code cannot be read
        }
    }
    if (WIFEXITED(status)) {
        return static_cast<std::uint32_t>(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return 128u + static_cast<std::uint32_t>(WTERMSIG(status));
    }
    return 0;
}

} // namespace

std::uint32_t SpawnProgramWithArgv(const std::string& program, const std::vector<std::string>& argv,
                                   const std::string& workingDir, bool wait) {
    // The new process changes its folder before it starts the program.
    std::error_code ignored;
    const std::string path = std::filesystem::absolute(program, ignored).string();
    std::vector<char*> pointers;
    pointers.reserve(argv.size() + 2);
    for (const auto& arg : argv) {
        pointers.push_back(const_cast<char*>(arg.c_str()));
    }
    if (pointers.empty()) {
        pointers.push_back(const_cast<char*>(path.c_str())); // a program always has a name
    }
    pointers.push_back(nullptr);

    SpawnActions actions;
    if (!workingDir.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions.actions, workingDir.c_str());
    }
    pid_t pid = 0;
    const int error =
        posix_spawn(&pid, path.c_str(), &actions.actions, nullptr, pointers.data(), environ);
    if (error != 0) {
        throw std::system_error(error, std::generic_category(), program);
    }
    if (wait) {
        return WaitForExitCode(pid);
    }
    // Nobody waits for a program started this way; collect it so it leaves no zombie.
    std::thread([pid] { WaitForExitCode(pid); }).detach();
    return 0;
}

std::uint32_t SpawnProgram(const std::string& program, const std::vector<std::string>& args,
                           const std::string& workingDir, bool wait) {
    std::vector<std::string> argv;
    argv.reserve(args.size() + 1);
    argv.push_back(program);
    argv.insert(argv.end(), args.begin(), args.end());
    return SpawnProgramWithArgv(program, argv, workingDir, wait);
}

} // namespace platform
