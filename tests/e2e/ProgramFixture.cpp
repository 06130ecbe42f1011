#include "ProgramFixture.h"

#include "platform/LocalMessages.h"
#include "tests/support/XSession.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using testing_support::FindProgram;

namespace {

std::string skipReason;
// Set when the X session was installed but did not come up: a fault of the run.
std::string failureReason;

// The X server and tray host, once for the whole test program.
class XEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        if (FindProgram("xdotool").empty()) {
            skipReason = "xdotool is not installed";
            return;
        }
        session_ = std::make_unique<testing_support::XSession>();
        (session_->Missing() ? skipReason : failureReason) = session_->Failure();
    }
    void TearDown() override { session_.reset(); }

private:
    std::unique_ptr<testing_support::XSession> session_;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new XEnvironment);

} // namespace

const std::string& ProgramTestSkipReason() {
    return skipReason;
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
    if (!failureReason.empty()) {
        FAIL() << "no X server with a tray host: " << failureReason;
    }
    if (!skipReason.empty()) {
        GTEST_SKIP() << "no X server with a tray host: " << skipReason;
    }
    fs::create_directory(folder / "runtime");
    fs::permissions(folder / "runtime", fs::perms::owner_all);
    program = folder / "corvale";
    fs::copy_file(CORVALE_PROGRAM, program);
}

void TProgramTest::WriteIni(const std::string& lines) {
    std::ofstream(folder / "corvale.ini") << "[Main]\n" << lines;
}

std::unique_ptr<ChildProcess> TProgramTest::StartClient(const std::vector<std::string>& args,
                                                        const std::vector<std::string>& environment,
                                                        const std::string& outputFile) {
    std::vector<std::string> settings{"CORVALE_RUNTIME_DIR=" + (folder / "runtime").string(),
                                      "XDG_CONFIG_HOME=" + (folder / "config").string(),
                                      "QT_QPA_PLATFORM=xcb",
                                      "WAYLAND_DISPLAY=", "DBUS_SESSION_BUS_ADDRESS="};
    settings.insert(settings.end(), environment.begin(), environment.end());
    return std::make_unique<ChildProcess>(
        program.string(), args,
        testing_support::ChildSetup{
            .Environment = settings,
            .OutputFile =
                outputFile.empty()
                    ? (folder / ("client" + std::to_string(std::rand()) + ".log")).string()
                    : outputFile});
}

bool TProgramTest::ClientAnswers() {
    return ClientAnswersIn(folder / "runtime");
}

bool TProgramTest::ClientAnswersIn(const fs::path& runtime) {
    const std::string socket = (runtime / "Corvale_EXE").string();
    return platform::SendLocalMessage(socket, platform::RegisterWindowMessage("Corvale_EXE"), 1s)
        .has_value();
}

std::optional<TXWindow> TProgramTest::MainWindow() {
    for (const TXWindow& window : VisibleWindows("--name", "^Corvale 0\\.3\\.11")) {
        return window;
    }
    return std::nullopt;
}
