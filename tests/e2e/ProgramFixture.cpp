#include "ProgramFixture.h"

#include "platform/LocalMessages.h"
#include "support/XSession.h"

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

extern char** environ;

namespace {

std::string skipReason;

// The X server and tray host, once for the whole test program.
class XEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        if (FindProgram("xdotool").empty()) {
            skipReason = "xdotool is not installed";
            return;
        }
        session_ = std::make_unique<TXSession>();
        skipReason = session_->Failure();
    }
    void TearDown() override { session_.reset(); }

private:
    std::unique_ptr<TXSession> session_;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new XEnvironment);

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

const std::string& ProgramTestSkipReason() {
    return skipReason;
}

TChildProcess::TChildProcess(const std::string& program, const std::vector<std::string>& args,
                             const std::vector<std::string>& environment,
                             const std::string& outputFile) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) {
        env.emplace_back(*entry);
    }
    for (const std::string& setting : environment) {
        const std::string name = setting.substr(0, setting.find('=') + 1);
        std::erase_if(env, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
        if (setting.back() != '=') {
            env.push_back(setting);
        }
    }
    auto argvPointers = Pointers(argv);
    auto envPointers = Pointers(env);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlives the test program
        if (getppid() != parent) {
            _exit(127);
        }
        const int out = outputFile.empty()
                            ? open("/dev/null", O_WRONLY)
                            : open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        execve(argvPointers[0], argvPointers.data(), envPointers.data());
        _exit(127);
    }
}

TChildProcess::~TChildProcess() {
    if (Running()) {
        Signal(SIGKILL);
        WaitForExit(5s);
    }
}

bool TChildProcess::Running() {
    if (pid_ <= 0 || exitCode_) {
        return false;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return true;
}

std::optional<int> TChildProcess::WaitForExit(std::chrono::milliseconds deadline) {
    Eventually([&] { return !Running(); }, deadline);
    return exitCode_;
}

void TChildProcess::Signal(int signal) {
    if (Running()) {
        kill(pid_, signal);
    }
}

std::string RunAndRead(const std::string& program, const std::vector<std::string>& args) {
    std::string command = program;
    for (const std::string& arg : args) {
        command += " '" + arg + "'";
    }
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) {
        return {};
    }
    std::string output;
    std::array<char, 256> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe.get())) {
        output += buffer.data();
    }
    return output;
}

std::vector<TXWindow> VisibleWindows(const std::string& searchOption, const std::string& pattern) {
    std::vector<TXWindow> windows;
    std::stringstream ids(
        RunAndRead("xdotool", {"search", "--onlyvisible", searchOption, pattern}));
    std::string id;
    while (ids >> id) {
        TXWindow window;
        window.Id = id;
        std::string name = RunAndRead("xdotool", {"getwindowname", id});
        window.Name = name.substr(0, name.find('\n'));
        // "X=..\nY=..\nWIDTH=..\nHEIGHT=..\nSCREEN=..\nWINDOW=.."
        std::stringstream shell(RunAndRead("xdotool", {"getwindowgeometry", "--shell", id}));
        std::string line;
        while (std::getline(shell, line)) {
            const auto value = [&](const char* key) {
                return std::atoi(line.c_str() + std::strlen(key));
            };
            if (line.rfind("X=", 0) == 0)
                window.X = value("X=");
            if (line.rfind("Y=", 0) == 0)
                window.Y = value("Y=");
            if (line.rfind("WIDTH=", 0) == 0)
                window.Width = value("WIDTH=");
            if (line.rfind("HEIGHT=", 0) == 0)
                window.Height = value("HEIGHT=");
        }
        windows.push_back(window);
    }
    return windows;
}

void TProgramTest::SetUp() {
    if (!skipReason.empty()) {
        GTEST_SKIP() << "no X server with a tray host: " << skipReason;
    }
    char pattern[] = "/tmp/corvale-program-XXXXXX";
    folder = mkdtemp(pattern);
    fs::create_directory(folder / "runtime");
    fs::permissions(folder / "runtime", fs::perms::owner_all);
    program = folder / "corvale";
    fs::copy_file(CORVALE_PROGRAM, program);
}

void TProgramTest::TearDown() {
    std::error_code ignored;
    if (!folder.empty()) {
        fs::remove_all(folder, ignored);
    }
}

void TProgramTest::WriteIni(const std::string& lines) {
    std::ofstream(folder / "corvale.ini") << "[Main]\n" << lines;
}

std::unique_ptr<TChildProcess>
TProgramTest::StartClient(const std::vector<std::string>& args,
                          const std::vector<std::string>& environment,
                          const std::string& outputFile) {
    std::vector<std::string> settings{"CORVALE_TEST_RUNTIME_DIR=" + (folder / "runtime").string(),
                                      "XDG_CONFIG_HOME=" + (folder / "config").string(),
                                      "QT_QPA_PLATFORM=xcb",
                                      "WAYLAND_DISPLAY=", "DBUS_SESSION_BUS_ADDRESS="};
    settings.insert(settings.end(), environment.begin(), environment.end());
    return std::make_unique<TChildProcess>(
        program.string(), args, settings,
        outputFile.empty() ? (folder / ("client" + std::to_string(std::rand()) + ".log")).string()
                           : outputFile);
}

bool TProgramTest::ClientAnswers() {
    const std::string socket = (folder / "runtime" / "Corvale_EXE").string();
    return platform::SendLocalMessage(socket, platform::RegisterWindowMessage("Corvale_EXE"), 1s)
        .has_value();
}

std::optional<TXWindow> TProgramTest::MainWindow() {
    for (const TXWindow& window : VisibleWindows("--name", "^Corvale 0\\.3\\.11")) {
        return window;
    }
    return std::nullopt;
}
