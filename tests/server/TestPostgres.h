#pragma once
// A PostgreSQL server of the test's own: a new cluster made with initdb in a fresh temporary
// folder and run by pg_ctl as the unprivileged account (the server refuses to run as the
// superuser), listening only on a Unix socket in that folder, with one database for the test.
// Logins are trusted, since nothing but the socket in the test's folder reaches it. The test
// stops it (the destructor does at the latest), and may stop and start it again in between.

#include "tests/support/TempFolder.h"

#include <string>
#include <vector>

namespace testing_support {

class TestPostgres {
public:
    // Why the server cannot be run here (its programs are missing), or empty text.
    static std::string MissingReason();

    // Makes the cluster and starts the server; throws std::runtime_error, with the server's
    // log, when it cannot.
    TestPostgres();
    // A streaming standby of the running `primary`: a copy of its cluster made with
    // pg_basebackup -R, started on a socket of its own and following the primary from then
    // on. Throws std::runtime_error, with the logs, when it cannot.
    struct StandbyTag {};
    TestPostgres(const TestPostgres& primary, StandbyTag);
    ~TestPostgres();
    TestPostgres(const TestPostgres&) = delete;
    TestPostgres& operator=(const TestPostgres&) = delete;

    // A fast shutdown that ends every connection; false when pg_ctl failed.
    bool Stop();
    // Starts the stopped server again on the same socket; false when it did not come up.
    bool Start();
    // An immediate shutdown, as a crash of the server would end it: no checkpoint, every
    // connection cut; false when pg_ctl failed.
    bool StopImmediately();
    // Makes a standby the primary (pg_ctl promote, waiting until it takes writes); false when
    // it did not.
    bool Promote();
    bool Running() const { return running_; }

    // A further empty database, with the cluster's locale (C) or with `locale`; false when it
    // could not be made.
    bool CreateDatabase(const std::string& name, const std::string& locale = {});

    // The connection string, as an operator gives it, of the test's database or of `database`.
    std::string Uri(const std::string& database = kDatabase) const;
    // The folder that holds the socket.
    const std::string& SocketFolder() const { return socketFolder_; }
    // What the server wrote to its log so far.
    std::string Log() const;

    static constexpr const char* kUser = "corvale";
    static constexpr const char* kDatabase = "corvale";
    static constexpr int kPort = 5432; // only in the socket's name: nothing listens on TCP

private:
    // Runs one of the server's programs as the unprivileged account; its exit code.
    int RunServerProgram(const std::string& program, const std::vector<std::string>& args) const;

    TempFolder folder_;
    std::string binFolder_;
    std::string ownFolder_; // the unprivileged account's: data, socket and log
    std::string dataFolder_;
    std::string socketFolder_;
    std::string logFile_;
    bool running_ = false;
};

} // namespace testing_support
