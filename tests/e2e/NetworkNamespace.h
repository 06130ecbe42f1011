#pragma once
// A network namespace of the test's own, held open by a process that only sleeps in it, and
// the reference service started inside it on the namespace's loopback. Commands and programs
// enter it through nsenter(1); everything ends with the objects.

#include "ProgramFixture.h"

#include <filesystem>
#include <memory>
#include <string>

class TNetworkNamespace {
public:
    explicit TNetworkNamespace(const std::filesystem::path& folder);

    // Empty when the namespace is there, its loopback up; otherwise why not.
    const std::string& Failure() const { return failure_; }
    // Runs a shell command in the namespace; true when it succeeded.
    bool Run(const std::string& command) const;
    // The words that run a program in the namespace when put before it.
    std::vector<std::string> EnterWords() const;
    // The same as one line of a shell script.
    std::string EnterCommand() const;

private:
    std::unique_ptr<ChildProcess> holder_;
    std::string failure_;
};

// Why no namespace of the test's own can be made here (empty when one can).
std::string NetworkNamespaceSkipReason();

// The reference service in `space`, listening on its 127.0.0.1, with the account "demo" and
// every request logged to Log().
class TNamespaceService {
public:
    TNamespaceService(const TNetworkNamespace& space, const std::filesystem::path& folder);

    const std::filesystem::path& Log() const { return log_; }

    int Port = 0;
    std::string StoredPassword; // of "demo"

private:
    std::filesystem::path log_;
    std::unique_ptr<ChildProcess> process_;
};
