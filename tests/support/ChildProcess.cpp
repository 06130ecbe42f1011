#include "tests/support/ChildProcess.h"

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>

extern char** environ;

namespace testing_support {

namespace {

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// The test's environment with `changes` applied ("NAME=value" sets, "NAME=" removes).
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& changes) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) {
        env.emplace_back(*entry);
    }
    for (const std::string& setting : changes) {
        const std::string name = setting.substr(0, setting.find('=') + 1);
        std::erase_if(env, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
        if (setting.back() != '=') {
            env.push_back(setting);
        }
    }
    return env;
}

int ExitCodeOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           ChildSetup setup) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = ChildEnvironment(setup.Environment);
    auto argvPointers = Pointers(argv);
    auto envPointers = Pointers(env);
    int pipeFds[2] = {-1, -1};
    if (setup.PipeOutput && ::pipe2(pipeFds, O_CLOEXEC) != 0) {
        throw std::runtime_error("no pipe for the output of " + program);
    }
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlives the test program
        if (::getppid() != parent) {
            ::_exit(127);
        }
        if (setup.InheritedFd >= 0) {
            ::fcntl(setup.InheritedFd, F_SETFD, 0);
        }
        const int null = ::open("/dev/null", O_RDWR);
        const int out = setup.OutputFile.empty()
                            ? null
                            : ::open(setup.OutputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(null, STDIN_FILENO);
        ::dup2(setup.PipeOutput ? pipeFds[1] : out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        ::execve(argvPointers[0], argvPointers.data(), envPointers.data());
        ::_exit(127);
    }
    if (setup.PipeOutput) {
        ::close(pipeFds[1]);
        output_ = pipeFds[0];
    }
    if (pid_ < 0) {
        throw std::runtime_error("cannot start " + program);
    }
}

ChildProcess::~ChildProcess() {
    if (Running()) {
        Signal(SIGKILL);
        WaitForExit(5s);
    }
    if (output_ >= 0) {
        ::close(output_);
    }
}

bool ChildProcess::Running() {
    if (pid_ <= 0 || exitCode_) {
        return false;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exitCode_ = ExitCodeOf(status);
        return false;
    }
    return true;
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds deadline) {
    WaitUntil([&] { return !Running(); }, deadline);
    return exitCode_;
}

void ChildProcess::Signal(int signal) {
    if (Running()) {
        ::kill(pid_, signal);
    }
}

void ChildProcess::Stop(std::chrono::milliseconds grace) {
    Signal(SIGTERM);
    if (!WaitForExit(grace)) {
        Signal(SIGKILL);
        WaitForExit(5s);
    }
}

std::string ChildProcess::ReadLine(std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + Scaled(deadline);
    while (output_ >= 0 && pending_.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd entry{output_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            return {};
        }
        std::array<char, 256> buffer{};
        const ssize_t n = ::read(output_, buffer.data(), buffer.size());
        if (n <= 0) {
            break;
        }
        pending_.append(buffer.data(), static_cast<std::size_t>(n));
    }
    const auto lineEnd = pending_.find('\n');
    std::string line = pending_.substr(0, lineEnd);
    pending_.erase(0, lineEnd == std::string::npos ? pending_.size() : lineEnd + 1);
    return line;
}

std::string ChildProcess::ReadAll() {
    std::string all;
    for (std::string line = ReadLine(); !line.empty(); line = ReadLine()) {
        all += line + '\n';
    }
    return all;
}

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const std::string candidate = folder + "/" + name;
        if (!folder.empty() && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

std::string RunAndRead(const std::string& program, const std::vector<std::string>& args) {
    std::string command = program;
    for (const std::string& arg : args) {
        command += " '" + arg + "'";
    }
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) {
        return {};
    }
    std::string output;
    std::array<char, 256> buffer{};
    while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe.get())) {
        output += buffer.data();
    }
    return output;
}

} // namespace testing_support
