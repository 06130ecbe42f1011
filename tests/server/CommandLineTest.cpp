#include "server/CommandLine.h"

#include <gtest/gtest.h>

namespace {

using namespace server;

struct ListenCase {
    std::string text;
    bool valid;
    std::string host;
    std::uint16_t port;
};

TEST(CommandLine, ListenAddresses) {
    const std::vector<ListenCase> cases = {
        {"127.0.0.1:8080", true, "127.0.0.1", 8080},
        {"0.0.0.0:80", true, "0.0.0.0", 80},
        {"localhost", true, "localhost", 8080},
        {":9000", true, "127.0.0.1", 9000},
        {"127.0.0.1:0", true, "127.0.0.1", 0},
        {"[::1]:8081", true, "::1", 8081},
        {"[::]", true, "::", 8080},
        {"", false, "", 0},
        {"host:", false, "", 0},
        {"host:65536", false, "", 0},
        {"host:-1", false, "", 0},
        {"host:80x", false, "", 0},
        {"::1", false, "", 0},
        {"[::1", false, "", 0},
        {"[]:80", false, "", 0},
        {"[::1]x", false, "", 0},
        {"[::1]:", false, "", 0},
    };
    for (const ListenCase& c : cases) {
        const auto address = ParseListenAddress(c.text);
        ASSERT_EQ(address.has_value(), c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(address->Host, c.host) << c.text;
            EXPECT_EQ(address->Port, c.port) << c.text;
        }
    }
}

TEST(CommandLine, DefaultsServeOnLoopback8080) {
    const auto parsed = ParseCommandLine({});
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->Command, "serve");
    EXPECT_EQ(parsed->Listen.Host, "127.0.0.1");
    EXPECT_EQ(parsed->Listen.Port, 8080);
    EXPECT_EQ(parsed->Database, "corvale-server.db");
    EXPECT_FALSE(parsed->OfferVersion);
    EXPECT_FALSE(parsed->PackageFile);
    EXPECT_TRUE(parsed->SignupOpen);
    EXPECT_FALSE(parsed->AccessLog);
}

TEST(CommandLine, OptionsBeforeAndAfterTheCommand) {
    const auto parsed =
        ParseCommandLine({"--db", "a.db", "add-account", "jdoe", "--listen=[::1]:99", "pw",
                          "--offer-version=0.3.12.30", "--package", "p.exe", "--threads", "3",
                          "--no-signup", "--access-log", "--", "--not-an-option"});
    ASSERT_TRUE(parsed) << parsed.Failure().Message;
    const CommandLine& line = *parsed;
    EXPECT_EQ(line.Command, "add-account");
    EXPECT_EQ(line.Arguments, (std::vector<std::string>{"jdoe", "pw", "--not-an-option"}));
    EXPECT_EQ(line.Database, "a.db");
    EXPECT_EQ(line.Listen.Host, "::1");
    EXPECT_EQ(line.Listen.Port, 99);
    EXPECT_EQ(line.OfferVersion, (ProductVersion{0, 3, 12, 30}));
    EXPECT_EQ(line.PackageFile, "p.exe");
    EXPECT_EQ(line.Threads, 3);
    EXPECT_FALSE(line.SignupOpen);
    EXPECT_TRUE(line.AccessLog);
}

TEST(CommandLine, MistakesAreReported) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--bogus"}, "unknown option: --bogus"},
        {{"--db"}, "--db needs a value"},
        {{"--db="}, "--db needs a file name"},
        {{"--listen", "nowhere:port"}, "invalid --listen address: nowhere:port"},
        {{"--threads", "0"}, "invalid --threads (1 to 256): 0"},
        {{"--threads=257"}, "invalid --threads (1 to 256): 257"},
        {{"--offer-version", "1.2"},
         "invalid --offer-version (expected four numbers, e.g. 0.3.12.30): 1.2"},
        {{"--no-signup=yes"}, "--no-signup takes no value"},
    };
    for (const auto& [args, error] : cases) {
        const auto parsed = ParseCommandLine(args);
        ASSERT_FALSE(parsed) << args[0];
        EXPECT_EQ(parsed.Failure().Message, error);
    }
}

TEST(CommandLine, HelpExplainsEveryOptionAndCommand) {
    const std::string help = HelpText();
    for (const char* word :
         {"--listen",        "--db",           "--offer-version", "--package",
          "--threads",       "--no-signup",    "--access-log",    "--help",
          "--version",       "serve",          "add-account",     "set-password",
          "delete-account",  "list-accounts",  "list-hosts",      "set-version",
          "set-package",     "clear-package",  "show-offer",      "stored-password",
          "sends no e-mail", "127.0.0.1:8080", "Exit status"}) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
    }
    // Every option the help names is one the parser accepts.
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--listen", ":1"},
                                               {"--db", "x"},
                                               {"--offer-version", "1.2.3.4"},
                                               {"--package", "x"},
                                               {"--threads", "1"},
                                               {"--no-signup"},
                                               {"--access-log"},
                                               {"--help"},
                                               {"-h"},
                                               {"--version"}}) {
        EXPECT_TRUE(ParseCommandLine(args)) << args[0];
    }
}

} // namespace
