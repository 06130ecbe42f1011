#include "support/XSession.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const std::string candidate = folder + "/" + name;
        if (!folder.empty() && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

TXSession::TXSession() {
    const std::string trayer = FindProgram("trayer");
    if (FindProgram("Xvfb").empty() || trayer.empty()) {
        failure_ = "Xvfb or trayer is not installed";
        return;
    }
    if (!StartServer()) {
        return;
    }
    setenv("DISPLAY", display_.c_str(), 1);
    trayHost_ = Spawn(trayer,
                      {"--edge", "top", "--align", "left", "--widthtype", "pixel", "--width", "200",
                       "--height", "32", "--transparent", "false"},
                      -1);
    if (trayHost_ < 0) {
        failure_ = "trayer could not be started";
    }
}

TXSession::~TXSession() {
    Stop(trayHost_);
    Stop(server_);
}

// Xvfb picks a free display itself and writes its number to the given descriptor once it
// accepts connections, so parallel test programs never collide.
bool TXSession::StartServer() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        failure_ = "no pipe for Xvfb";
        return false;
    }
    server_ = Spawn(
        FindProgram("Xvfb"),
        {"-displayfd", std::to_string(fds[1]), "-screen", "0", "800x600x24", "-nolisten", "tcp"},
        fds[1]);
    close(fds[1]);
    std::string number;
    pollfd readable{fds[0], POLLIN, 0};
    while (server_ > 0 && poll(&readable, 1, 10000) > 0) {
        char c = 0;
        if (read(fds[0], &c, 1) != 1 || c == '\n') {
            break;
        }
        number += c;
    }
    close(fds[0]);
    if (number.empty()) {
        failure_ = "Xvfb did not start";
        Stop(server_);
        return false;
    }
    display_ = ":" + number;
    return true;
}

pid_t TXSession::Spawn(const std::string& program, const std::vector<std::string>& args,
                       int inheritedFd) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv) {
        pointers.push_back(arg.data());
    }
    pointers.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // Ends with the test program, whatever way it ends.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        if (inheritedFd >= 0) {
            fcntl(inheritedFd, F_SETFD, 0);
        }
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    return pid;
}

void TXSession::Stop(pid_t& pid) {
    if (pid <= 0) {
        return;
    }
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) { // up to 2 s, then no more waiting
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}
