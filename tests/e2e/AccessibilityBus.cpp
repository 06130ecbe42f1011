#include "AccessibilityBus.h"

#include "tests/support/ChildProcess.h"

#include <csignal>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::FindProgram;

namespace {

const char* const kBusLauncher = "/usr/libexec/at-spi-bus-launcher";
// Debian's own interpreter: the one python3-gi and the Atspi typelib are installed for,
// whatever other interpreter comes first on PATH.
const char* const kPython = "/usr/bin/python3";

std::string Unescape(const std::string& field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 1 < field.size()) {
            const char next = field[++i];
            text += next == 't' ? '\t' : next == 'n' ? '\n' : next;
        } else {
            text += field[i];
        }
    }
    return text;
}

} // namespace

std::string AccessibilityBusSkipReason() {
    if (FindProgram("dbus-daemon").empty() || FindProgram("dbus-send").empty()) {
        return "dbus-daemon or dbus-send is not installed (Debian: dbus)";
    }
    if (access(kBusLauncher, X_OK) != 0) {
        return std::string(kBusLauncher) + " is missing (Debian: at-spi2-core)";
    }
    const std::string probe =
        RunAndRead(kPython, {"-c", "import gi; gi.require_version(\"Atspi\", \"2.0\"); "
                                   "from gi.repository import Atspi; print(\"ok\")"});
    if (probe != "ok\n") {
        return std::string(kPython) +
               " cannot load Atspi 2.0 (Debian: python3-gi, gir1.2-atspi-2.0)";
    }
    return {};
}

bool TAccessibilityBus::TNode::Has(const std::string& state) const {
    std::stringstream states(States);
    std::string one;
    while (std::getline(states, one, ',')) {
        if (one == state) {
            return true;
        }
    }
    return false;
}

TAccessibilityBus::TAccessibilityBus(const fs::path& folder) : folder_(folder / "buses") {
    fs::create_directories(folder_ / "runtime");
    fs::permissions(folder_ / "runtime", fs::perms::owner_all);
    const fs::path socket = folder_ / "session-bus";
    address_ = "unix:path=" + socket.string();
    sessionBus_ = std::make_unique<ChildProcess>(
        FindProgram("dbus-daemon"),
        std::vector<std::string>{"--session", "--nofork", "--nopidfile", "--address=" + address_},
        testing_support::ChildSetup{.OutputFile = (folder_ / "session-bus.log").string()});
    if (!Eventually([&] { return fs::exists(socket); }, 10s)) {
        failure_ = "the private session bus did not start";
        return;
    }
    launcher_ = std::make_unique<ChildProcess>(
        kBusLauncher, std::vector<std::string>{"--launch-immediately"},
        testing_support::ChildSetup{.Environment = ReaderEnvironment(),
                                    .OutputFile = (folder_ / "bus-launcher.log").string()});
    const bool answers = Eventually(
        [&] {
            return RunAndRead("dbus-send",
                              {"--bus=" + address_, "--print-reply", "--dest=org.a11y.Bus",
                               "/org/a11y/bus", "org.a11y.Bus.GetAddress"})
                       .find("unix:") != std::string::npos;
        },
        10s);
    if (!answers) {
        failure_ = "the accessibility bus did not start";
    }
}

TAccessibilityBus::~TAccessibilityBus() {
    // The launcher ends the accessibility bus it started when it is asked to end.
    if (launcher_) {
        launcher_->Signal(SIGTERM);
        launcher_->WaitForExit(5s);
    }
    if (sessionBus_) {
        sessionBus_->Signal(SIGTERM);
        sessionBus_->WaitForExit(5s);
    }
}

std::vector<std::string> TAccessibilityBus::ReaderEnvironment() const {
    return {"DBUS_SESSION_BUS_ADDRESS=" + address_,
            "XDG_RUNTIME_DIR=" + (folder_ / "runtime").string()};
}

std::vector<std::string> TAccessibilityBus::ClientEnvironment() const {
    auto environment = ReaderEnvironment();
    environment.push_back("QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1");
    return environment;
}

std::vector<TAccessibilityBus::TNode>
TAccessibilityBus::Tree(const std::string& application) const {
    std::vector<std::string> args = ReaderEnvironment();
    args.insert(args.end(), {kPython, CORVALE_ATSPI_READER, "dump", application});
    std::stringstream lines(RunAndRead("env", args));
    std::vector<TNode> tree;
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::stringstream parts(line);
        std::string field;
        while (std::getline(parts, field, '\t')) {
            fields.push_back(Unescape(field));
        }
        fields.resize(6);
        tree.push_back(
            {std::atoi(fields[0].c_str()), fields[1], fields[2], fields[3], fields[4], fields[5]});
    }
    return tree;
}

bool TAccessibilityBus::Press(const std::string& application, const std::string& role,
                              const std::string& name) const {
    std::vector<std::string> args = ReaderEnvironment();
    args.insert(args.end(), {kPython, CORVALE_ATSPI_READER, "press", application, role, name});
    return RunAndRead("env", args) == "pressed\n";
}

std::unique_ptr<ChildProcess>
TAccessibilityBus::WatchTextChanges(int seconds, const std::string& outputFile) const {
    return std::make_unique<ChildProcess>(
        kPython, std::vector<std::string>{CORVALE_ATSPI_READER, "watch", std::to_string(seconds)},
        testing_support::ChildSetup{.Environment = ReaderEnvironment(), .OutputFile = outputFile});
}
