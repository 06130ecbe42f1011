#pragma once
// Other processes in tests: a piece of a test run in a forked child (to end it abruptly at a
// chosen point, as a crash would, to give it resource limits, or to run it as an ordinary
// user), and other programs started, watched and stopped by the test. Tests run as the
// superuser in CI, and the superuser passes every permission check, so a refusal for lack of
// rights can only be seen from an unprivileged process.

#include "tests/support/TempFolder.h"
#include "tests/support/Wait.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace testing_support {

// The account an unprivileged child runs as: "nobody" when the tests run as the superuser,
// otherwise the current user, who is unprivileged already.
inline constexpr uid_t kNobodyId = 65534;
inline uid_t UnprivilegedUid() {
    return ::geteuid() == 0 ? kNobodyId : ::geteuid();
}
inline gid_t UnprivilegedGid() {
    return ::geteuid() == 0 ? kNobodyId : ::getegid();
}

// Gives a path to the unprivileged account (nothing to do when the tests are unprivileged).
inline bool GiveToUnprivileged(const std::string& path) {
    return ::geteuid() != 0 || ::chown(path.c_str(), kNobodyId, kNobodyId) == 0;
}

// A new folder `name` (mode 0755) in the test's temporary folder `temp`, given to the
// unprivileged account, with `temp` opened for that account to reach it. Empty when it cannot
// be made.
inline std::string FolderForUnprivilegedChild(const std::filesystem::path& temp,
                                              const std::string& name = "app") {
    const std::string folder = (temp / name).string();
    if (::chmod(temp.c_str(), 0755) != 0 || ::mkdir(folder.c_str(), 0755) != 0 ||
        !GiveToUnprivileged(folder)) {
        return {};
    }
    return folder;
}

// Writes `bytes` to `path`, gives the file to the unprivileged account and sets its mode.
inline bool WriteFileForUnprivilegedChild(const std::string& path, const std::string& bytes,
                                          mode_t mode) {
    WriteFile(path, bytes);
    return GiveToUnprivileged(path) && ::chmod(path.c_str(), mode) == 0;
}

struct ChildResult {
    bool exited = false;     // ended through _exit
    int exitCode = -1;       // when exited
    int signal = 0;          // when a signal ended it
    bool cannotDrop = false; // the child could not become unprivileged
};

inline constexpr int kCannotDropExitCode = 111;

// Runs `body` in a forked child that ends with _exit(body()); no test assertion may run there.
inline ChildResult RunInChild(const std::function<int()>& body, bool unprivileged = false) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (unprivileged && ::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobodyId) != 0 ||
                ::setuid(kNobodyId) != 0) {
                ::_exit(kCannotDropExitCode);
            }
        }
        ::_exit(body());
    }
    ChildResult result;
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) {
        return result;
    }
    if (WIFEXITED(status)) {
        result.exited = true;
        result.exitCode = WEXITSTATUS(status);
        result.cannotDrop = unprivileged && result.exitCode == kCannotDropExitCode;
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

// How a program started by the test runs.
struct ChildSetup {
    // "NAME=value" sets a variable of the test's environment for the child, "NAME=" removes it.
    std::vector<std::string> Environment = {};
    // Standard output and standard error go to this file (created or emptied); to /dev/null
    // when empty.
    std::string OutputFile = {};
    // Standard output goes to a pipe the test reads with ReadLine instead.
    bool PipeOutput = false;
    // A descriptor of the test the child keeps open (-1: none).
    int InheritedFd = -1;
};

// A program started by the test with its standard input on /dev/null. It never outlives the
// test program, and is killed when this object goes while it still runs.
class ChildProcess {
public:
    // Throws std::runtime_error when the program cannot be started.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 ChildSetup setup = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    bool Running();
    // The exit code (128 + the signal's number when a signal ended it), or none when it has
    // not ended within the scaled deadline.
    std::optional<int> WaitForExit(std::chrono::milliseconds deadline = kDefaultDeadline);
    void Signal(int signal);
    // Asks it to end (SIGTERM), and kills it when it has not ended after `grace`.
    void Stop(std::chrono::milliseconds grace = 2s);

    // One line of the piped output without its line end, or empty text when none came within
    // the scaled deadline or the output ended.
    std::string ReadLine(std::chrono::milliseconds deadline = kDefaultDeadline);
    // Every further line of the piped output, each with its line end, until a ReadLine fails.
    std::string ReadAll();

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string pending_;
    std::optional<int> exitCode_;
};

// The full path of a program on PATH, or empty text.
std::string FindProgram(const std::string& name);

// Runs a program through the shell to its end and returns its standard output; empty on
// failure. Each argument is passed in single quotes.
std::string RunAndRead(const std::string& program, const std::vector<std::string>& args);

} // namespace testing_support
