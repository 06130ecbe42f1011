#pragma once
// Runs a piece of a test in a forked child: to end it abruptly at a chosen point (as a crash
// would), to give it resource limits, or to run it as an ordinary user. Tests run as the
// superuser in CI, and the superuser passes every permission check, so a refusal for lack of
// rights can only be seen from an unprivileged process.

#include <functional>
#include <grp.h>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

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

} // namespace testing_support
