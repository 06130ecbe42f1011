#include "platform/Process.h"
#include "util/Lib1.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

class RunProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("corvale-run-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "my folder");
    }
    void TearDown() override { fs::remove_all(dir_); }

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

    fs::path dir_;
};

TEST_F(RunProgramTest, WaitsAndReturnsExitCodeInProgramFolder) {
    const std::string script = WriteScript("tool.sh", 7);
    const std::string folder = (dir_ / "my folder").string();
    EXPECT_EQ(RunProgram(script, "1 \"" + folder + "/\"", SW_HIDE, true), 7u);
    EXPECT_EQ(Output(), folder + "\n[1]\n[" + folder + "/]\n");
}

TEST_F(RunProgramTest, WithoutWaitReturnsZeroAtOnce) {
    const std::string script = WriteScript("tool.sh", 3);
    EXPECT_EQ(RunProgram(script, "x", SW_SHOWNORMAL, false), 0u);
    for (int i = 0; i < 200 && Output().find("[x]") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_NE(Output().find("[x]"), std::string::npos);
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

} // namespace
