#include "platform/Lib1System.h"
#include "platform/Process.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"
#include "tests/support/Wait.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace fs = std::filesystem;
using testing_support::WaitUntil;

namespace {

class RunProgramTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir_ / "my folder"); }

    // A script that writes its arguments, one a line, and its working folder, then exits.
    std::string WriteScript(const std::string& name, int exitCode) {
        const fs::path path = dir_ / "my folder" / name;
        std::ofstream(path) << "#!/bin/sh\n"
                               "out=\"$(dirname \"$0\")/out.txt\"\n"
                               "pwd > \"$out\"\n"
                               "for a in \"$@\"; do echo \"[$a]\" >> \"$out\"; done\n"
                               "exit "
                            << exitCode << "\n";
        fs::permissions(path, fs::perms::owner_all);
        return path.string();
    }
    std::string Output() const {
        std::ifstream in(dir_ / "my folder" / "out.txt");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    testing_support::TempFolder temp_;
    const fs::path dir_ = temp_.Path();
};

// The updater's command line: "1" stands where a program name is expected, so a script sees
// the quoted folder as its first argument.
TEST_F(RunProgramTest, WaitsAndReturnsExitCodeInProgramFolder) {
    const std::string script = WriteScript("tool.sh", 7);
    const std::string folder = (dir_ / "my folder").string();
    EXPECT_EQ(RunProgram(script, "1 \"" + folder + "/\"", SW_HIDE, true), 7u);
    EXPECT_EQ(Output(), folder + "\n[" + folder + "/]\n");
}

TEST_F(RunProgramTest, WithoutWaitReturnsZeroAtOnce) {
    const std::string script = WriteScript("tool.sh", 3);
    EXPECT_EQ(RunProgram(script, "name x", SW_SHOWNORMAL, false), 0u);
    WaitUntil([&] { return Output().find("[x]") != std::string::npos; });
    EXPECT_EQ(Output(), (dir_ / "my folder").string() + "\n[x]\n");
}

// The whole argument vector as the started program sees it, argv[0] included, read by a shell
// from its own process entry.
TEST_F(RunProgramTest, CommandLineWordsAreTheWholeArgumentVector) {
    const std::string out = (dir_ / "argv.txt").string(); // no blank: it stands in the text
    struct Case {
        std::string commandLine;
        std::string argv; // NUL-separated, as the system keeps it
    };
    const std::string script = "cp /proc/$$/cmdline " + out + "; exit 0";
    for (const Case& c :
         {Case{"1 -c \"" + script + "\"", std::string("1\0-c\0", 5) + script + '\0'},
          Case{"shell -c \"" + script + "\" arg",
               std::string("shell\0-c\0", 9) + script + std::string("\0arg\0", 5)}}) {
        SCOPED_TRACE(c.commandLine);
        std::filesystem::remove(out);
        EXPECT_EQ(RunProgram("/bin/sh", c.commandLine, SW_HIDE, true), 0u);
        std::ifstream in(out, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_EQ(text.str(), c.argv);
    }
}

TEST_F(RunProgramTest, EmptyCommandLineRunsTheProgramWithoutArguments) {
    const std::string script = WriteScript("tool.sh", 4);
    EXPECT_EQ(RunProgram(script, "", SW_HIDE, true), 4u);
    EXPECT_EQ(Output(), (dir_ / "my folder").string() + "\n");
}

TEST_F(RunProgramTest, RelativeProgramPathCountsFromTheCallersFolder) {
    WriteScript("tool.sh", 5);
    const auto callersFolder = fs::current_path();
    fs::current_path(dir_);
    std::uint32_t exitCode = 0;
    EXPECT_NO_THROW(exitCode = RunProgram("my folder/tool.sh", "1 a", SW_HIDE, true));
    fs::current_path(callersFolder);
    EXPECT_EQ(exitCode, 5u);
    EXPECT_EQ(Output(), (dir_ / "my folder").string() + "\n[a]\n") << "run in its own folder";
}

TEST_F(RunProgramTest, MissingProgramRaisesSystemText) {
    try {
        RunProgram((dir_ / "absent").string(), "", SW_HIDE, true);
        FAIL() << "no error";
    } catch (const ERunProgramError& e) {
        EXPECT_STREQ(e.what(), "No such file or directory");
    }
}

TEST_F(RunProgramTest, NonExecutableFileRaises) {
    const fs::path path = dir_ / "plain.txt";
    std::ofstream(path) << "not a program";
    EXPECT_THROW(RunProgram(path.string(), "", SW_HIDE, true), ERunProgramError);
}

struct CommandLineCase {
    std::string text;
    std::vector<std::string> args;
};

class SplitCommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(SplitCommandLineTest, SplitsAtBlanksOutsideQuotes) {
    EXPECT_EQ(platform::SplitCommandLine(GetParam().text), GetParam().args);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitCommandLineTest,
    ::testing::Values(CommandLineCase{"", {}}, CommandLineCase{"   ", {}},
                      CommandLineCase{"1 \"/opt/my app/\"", {"1", "/opt/my app/"}},
                      CommandLineCase{"a  b", {"a", "b"}}, CommandLineCase{"\"\"", {""}},
                      CommandLineCase{"x\"y z\"w", {"xy zw"}},
                      CommandLineCase{"back\\slash", {"back\\slash"}}));

TEST(GetTempDirTest, FollowsTmpdirAndEndsWithSlash) {
    const std::pair<std::optional<std::string>, std::string> cases[] = {{"/var/tmp", "/var/tmp/"},
                                                                        {"/var/tmp/", "/var/tmp/"},
                                                                        {"", "/tmp/"},
                                                                        {std::nullopt, "/tmp/"}};
    for (const auto& [tmpdir, expected] : cases) {
        testing_support::ScopedEnv env("TMPDIR", tmpdir);
        EXPECT_EQ(GetTempDir(), expected) << tmpdir.value_or("(unset)");
    }
}

} // namespace
