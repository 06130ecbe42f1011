#include "tests/server/TestPostgres.h"

#include "tests/support/ChildProcess.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace testing_support {

namespace {

// The newest installed server's programs: Debian keeps them in one folder per major version.
std::string ServerBinFolder() {
    std::vector<std::filesystem::path> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", error)) {
        const auto bin = entry.path() / "bin";
        if (std::filesystem::exists(bin / "initdb", error) &&
            std::filesystem::exists(bin / "pg_ctl", error)) {
            found.push_back(bin);
        }
    }
    if (found.empty()) {
        return {};
    }
    // By version number: "9.6" before "15".
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return std::atof(a.parent_path().filename().c_str()) <
               std::atof(b.parent_path().filename().c_str());
    });
    return found.back().string();
}

// The arguments as execv wants them, ending in a null pointer.
std::vector<char*> ArgumentVector(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    return argv;
}

} // namespace

std::string TestPostgres::MissingReason() {
    if (ServerBinFolder().empty()) {
        return "the PostgreSQL server is not installed (no /usr/lib/postgresql/*/bin/initdb; "
               "scripts/setup installs postgresql-15)";
    }
    return {};
}

TestPostgres::TestPostgres() : binFolder_(ServerBinFolder()) {
    if (binFolder_.empty()) {
        throw std::runtime_error(MissingReason());
    }
    ownFolder_ = FolderForUnprivilegedChild(folder_.Path(), "postgres");
    if (ownFolder_.empty()) {
        throw std::runtime_error("cannot make the server's folder");
    }
    dataFolder_ = ownFolder_ + "/data";
    socketFolder_ = ownFolder_;
    logFile_ = ownFolder_ + "/server.log";
    // initdb's own output goes to the log too, so a failure says why.
    if (RunServerProgram("initdb", {"-D", dataFolder_, "-U", kUser, "-A", "trust", "-E", "UTF8",
                                    "--locale=C", "--no-sync"}) != 0) {
        throw std::runtime_error("initdb failed:\n" + Log());
    }
    if (!Start()) {
        throw std::runtime_error("the test's PostgreSQL server did not start:\n" + Log());
    }
    if (!CreateDatabase(kDatabase)) {
        Stop();
        throw std::runtime_error("cannot create the test's database:\n" + Log());
    }
}

TestPostgres::TestPostgres(const TestPostgres& primary, StandbyTag)
    : binFolder_(primary.binFolder_) {
    ownFolder_ = FolderForUnprivilegedChild(folder_.Path(), "postgres");
    if (ownFolder_.empty()) {
        throw std::runtime_error("cannot make the standby's folder");
    }
    dataFolder_ = ownFolder_ + "/data";
    socketFolder_ = ownFolder_;
    logFile_ = ownFolder_ + "/server.log";
    if (RunServerProgram("pg_basebackup", {"-D", dataFolder_, "-h", primary.socketFolder_, "-p",
                                           std::to_string(kPort), "-U", kUser, "-R", "-X", "stream",
                                           "--checkpoint=fast", "--no-sync"}) != 0) {
        throw std::runtime_error("pg_basebackup failed:\n" + Log() + "\nThe primary's log:\n" +
                                 primary.Log());
    }
    if (!Start()) {
        throw std::runtime_error("the standby did not start:\n" + Log());
    }
}

TestPostgres::~TestPostgres() {
    if (running_) {
        // Immediate: nothing of the test's cluster needs to be kept.
        RunServerProgram("pg_ctl", {"-D", dataFolder_, "-m", "immediate", "-w", "stop"});
    }
}

int TestPostgres::RunServerProgram(const std::string& program,
                                   const std::vector<std::string>& args) const {
    const std::string path = binFolder_ + "/" + program;
    const std::string log = logFile_;
    const ChildResult result = RunInChild(
        [&]() -> int {
            std::vector<std::string> all{path};
            all.insert(all.end(), args.begin(), args.end());
            // Nothing of the test's environment chooses another cluster or user.
            for (const char* name : {"PGDATA", "PGHOST", "PGPORT", "PGUSER", "PGDATABASE"}) {
                ::unsetenv(name);
            }
            ::setenv("LC_ALL", "C", 1);
            ::setenv("HOME", ownFolder_.c_str(), 1);
            std::FILE* out = std::freopen(log.c_str(), "a", stdout);
            if (out == nullptr || ::dup2(STDOUT_FILENO, STDERR_FILENO) < 0 ||
                ::chdir(ownFolder_.c_str()) != 0) {
                return 126;
            }
            auto argv = ArgumentVector(all);
            ::execv(path.c_str(), argv.data());
            return 127;
        },
        /*unprivileged=*/true);
    return result.exited ? result.exitCode : -1;
}

bool TestPostgres::Start() {
    if (running_) {
        return true;
    }
    const std::string options = "-k " + socketFolder_ + " -p " + std::to_string(kPort) +
                                " -c listen_addresses= -c fsync=off";
    running_ = RunServerProgram("pg_ctl", {"-D", dataFolder_, "-l", logFile_, "-o", options, "-w",
                                           "-t", "120", "start"}) == 0;
    return running_;
}

bool TestPostgres::Stop() {
    if (!running_) {
        return true;
    }
    const bool stopped =
        RunServerProgram("pg_ctl", {"-D", dataFolder_, "-m", "fast", "-w", "stop"}) == 0;
    running_ = !stopped;
    return stopped;
}

bool TestPostgres::StopImmediately() {
    if (!running_) {
        return true;
    }
    const bool stopped =
        RunServerProgram("pg_ctl", {"-D", dataFolder_, "-m", "immediate", "-w", "stop"}) == 0;
    running_ = !stopped;
    return stopped;
}

bool TestPostgres::Promote() {
    return running_ &&
           RunServerProgram("pg_ctl", {"-D", dataFolder_, "-w", "-t", "120", "promote"}) == 0;
}

bool TestPostgres::CreateDatabase(const std::string& name, const std::string& locale) {
    std::vector<std::string> args{"-h", socketFolder_, "-p", std::to_string(kPort), "-U", kUser};
    if (!locale.empty()) {
        // Only the empty template may take another locale.
        args.insert(args.end(), {"-T", "template0", "-l", locale});
    }
    args.push_back(name);
    return RunServerProgram("createdb", args) == 0;
}

std::string TestPostgres::Uri(const std::string& database) const {
    // The folder's name has letters, digits, '-' and '/' only: nothing to escape.
    return std::string("postgresql://") + kUser + "@/" + database + "?host=" + socketFolder_ +
           "&port=" + std::to_string(kPort);
}

std::string TestPostgres::Log() const {
    return ReadText(logFile_);
}

} // namespace testing_support
