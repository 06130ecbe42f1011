#include "NetworkNamespace.h"

#include "tests/support/TempFolder.h"

#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using testing_support::FindProgram;

namespace {

std::string NamespaceOf(const std::string& process) {
    std::error_code error;
    const fs::path link = fs::read_symlink("/proc/" + process + "/ns/net", error);
    return error ? std::string() : link.string();
}

std::string Quoted(const std::string& word) {
    std::string quoted = "'";
    for (const char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

} // namespace

std::string NetworkNamespaceSkipReason() {
    for (const char* program : {"ip", "unshare", "nsenter", "sleep"}) {
        if (FindProgram(program).empty()) {
            return std::string(program) + " is not installed";
        }
    }
    // Only a child tries, so that the test program stays where it is.
    const testing_support::ChildResult tried =
        testing_support::RunInChild([] { return ::unshare(CLONE_NEWNET) == 0 ? 0 : 1; });
    if (!tried.exited || tried.exitCode != 0) {
        return "no network namespace of the test's own (needs root)";
    }
    return {};
}

TNetworkNamespace::TNetworkNamespace(const fs::path& folder) {
    holder_ = std::make_unique<ChildProcess>(
        FindProgram("unshare"), std::vector<std::string>{"--net", "sleep", "1000000"},
        testing_support::ChildSetup{.OutputFile = (folder / "namespace.log").string()});
    // Until the holder has made its namespace, entering it would enter the test's own: every
    // command waits for it to differ.
    const std::string ours = NamespaceOf("self");
    const std::string pid = std::to_string(holder_->Pid());
    if (!Eventually([&] {
            const std::string theirs = NamespaceOf(pid);
            return !theirs.empty() && theirs != ours;
        })) {
        failure_ = "the namespace's holder did not make its namespace";
        return;
    }
    if (!Run("ip link set lo up")) {
        failure_ = "the namespace's loopback did not come up";
    }
}

std::vector<std::string> TNetworkNamespace::EnterWords() const {
    return {FindProgram("nsenter"), "--net=/proc/" + std::to_string(holder_->Pid()) + "/ns/net",
            "--"};
}

std::string TNetworkNamespace::EnterCommand() const {
    std::string line;
    for (const std::string& word : EnterWords()) {
        line += (line.empty() ? "" : " ") + Quoted(word);
    }
    return line;
}

bool TNetworkNamespace::Run(const std::string& command) const {
    return std::system((EnterCommand() + " sh -c " + Quoted(command)).c_str()) == 0;
}

TNamespaceService::TNamespaceService(const TNetworkNamespace& space, const fs::path& folder)
    : log_(folder / "service.log") {
    const std::string db = (folder / "service.db").string();
    RunAndRead(CORVALE_SERVER, {"--db", db, "add-account", "demo", "demo-password"});
    std::stringstream stored(
        RunAndRead(CORVALE_SERVER, {"--db", db, "stored-password", "demo-password"}));
    std::getline(stored, StoredPassword);

    std::vector<std::string> words = space.EnterWords();
    const std::string enter = words.front();
    words.erase(words.begin());
    words.insert(words.end(),
                 {CORVALE_SERVER, "--db", db, "--listen", "127.0.0.1:0", "--access-log"});
    process_ = std::make_unique<ChildProcess>(
        enter, words, testing_support::ChildSetup{.OutputFile = log_.string()});
    const std::string marker = "listening on 127.0.0.1:";
    Eventually([&] {
        const std::string text = testing_support::ReadText(log_);
        const auto at = text.find(marker);
        if (at != std::string::npos && text.find('\n', at) != std::string::npos) {
            Port = std::atoi(text.c_str() + at + marker.size());
        }
        return Port > 0;
    });
}
