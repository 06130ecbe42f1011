// The corvale-server program itself, started as a child process.

#include "core/uEndpoint.h"
#include "core/uTools.h"
#include "tests/server/RunningServer.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;

// A child process whose standard output the test reads.
class Child {
public:
    explicit Child(std::vector<std::string> args) {
        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe failed");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        args.insert(args.begin(), CORVALE_SERVER_PROGRAM);
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(pipeFds[1]);
        output_ = pipeFds[0];
        if (rc != 0) {
            throw std::runtime_error("spawn failed");
        }
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(output_);
    }

    // One line of output, or empty text when none came in time.
    std::string ReadLine(std::chrono::milliseconds timeout = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (pending_.find('\n') == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd entry{output_, POLLIN, 0};
            if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
                return {};
            }
            char buffer[256];
            const ssize_t n = read(output_, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            pending_.append(buffer, static_cast<std::size_t>(n));
        }
        const auto end = pending_.find('\n');
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end == std::string::npos ? pending_.size() : end + 1);
        return line;
    }
    std::string ReadAll() {
        std::string all;
        for (std::string line = ReadLine(); !line.empty(); line = ReadLine()) {
            all += line + '\n';
        }
        return all;
    }

    void Signal(int number) { kill(pid_, number); }

    // The exit code, or -1 when it did not end in time.
    int Wait(std::chrono::milliseconds timeout = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(5ms);
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string pending_;
};

TEST(Program, HelpAndUsageErrors) {
    Child help({"--help"});
    EXPECT_NE(help.ReadAll().find("Usage: corvale-server"), std::string::npos);
    EXPECT_EQ(help.Wait(), 0);

    Child wrong({"--bogus"});
    EXPECT_EQ(wrong.Wait(), 2);
    Child extra({"serve", "now"});
    EXPECT_EQ(extra.Wait(), 2);
}

TEST(Program, ServesUntilTerminatedAndKeepsItsData) {
    server_test::TempFolder folder;
    const std::string database = folder.File("program.db");
    {
        Child add({"--db", database, "add-account", "jdoe", "secret"});
        EXPECT_EQ(add.Wait(), 0);
    }
    Child serve({"--db", database, "--listen", "127.0.0.1:0", "--offer-version", "0.3.12.30"});
    const std::string banner = serve.ReadLine();
    const std::string prefix = "corvale-server listening on 127.0.0.1:";
    ASSERT_EQ(banner.rfind(prefix, 0), 0u) << banner;
    const auto port = static_cast<std::uint16_t>(std::stoi(banner.substr(prefix.size())));
    SetServiceEndpoint({"127.0.0.1", port});

    EXPECT_EQ(ServiceCall(ServiceRequestUrl("clver")), "OK 0\n3\n12\n30");
    EXPECT_EQ(ServiceCall(ServiceRequestUrl("setip", {{"id", "jdoe"},
                                                      {"pswd", "UU9qT3doRVNhdTFWRnFEUQ=="},
                                                      {"host", "PC"},
                                                      {"ip", "192.0.2.7"},
                                                      {"v", "0.3.11.25"}})),
              "ERR Invalid ID or password");

    serve.Signal(SIGTERM);
    EXPECT_EQ(serve.Wait(), 0);
    EXPECT_EQ(ServiceCall(ServiceRequestUrl("clver")), std::string(kServerTimeoutReply))
        << "nothing listens any more";

    Child list({"--db", database, "list-accounts"});
    EXPECT_EQ(list.ReadLine().rfind("jdoe\t0\t", 0), 0u);
    EXPECT_EQ(list.Wait(), 0);
}

TEST(Program, PortInUseFails) {
    server_test::RunningServer occupant;
    Child serve({"--db", occupant.Folder().File("second.db"), "--listen",
                 "127.0.0.1:" + std::to_string(occupant.Port())});
    EXPECT_EQ(serve.Wait(), 1);
}

} // namespace
