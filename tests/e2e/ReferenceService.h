#pragma once
// The reference service on a free port of 127.0.0.1, with the account "demo", for the
// whole-program tests; a test may add accounts and ask it directly, as another client would.

#include "ProgramFixture.h"

#include <filesystem>
#include <memory>
#include <string>

class TReferenceService {
public:
    explicit TReferenceService(const std::filesystem::path& folder);

    // Creates an account and returns its password in the form a client sends.
    std::string AddAccount(const std::string& user, const std::string& password);
    // One service request ("action=...&id=..."), its reply's body; testing_support::kNoBody
    // when none came.
    std::string Ask(const std::string& query) const;

    int Port = 0;
    std::string StoredPassword; // of "demo"

private:
    std::string db_;
    std::unique_ptr<ChildProcess> process_;
};
