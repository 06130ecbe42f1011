// The temporary folder and the environment guard: what a test leaves behind must be gone,
// whatever it did to it.

#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace testing_support {
namespace {

std::optional<std::string> Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

TEST(TempFolderTest, IsAFreshPrivateFolderOfItsOwn) {
    TempFolder first;
    TempFolder second;
    EXPECT_TRUE(fs::is_directory(first.Path()));
    EXPECT_TRUE(fs::is_empty(first.Path()));
    EXPECT_NE(first.Path(), second.Path());
    EXPECT_EQ(ModeOf(first.Path().string()), 0700u);
    EXPECT_EQ(first.FolderPath(), first.Path().string() + "/");
    EXPECT_EQ(first / "a.ini", (first.Path() / "a.ini").string());
}

TEST(TempFolderTest, GoesWithEverythingInItEvenWhatWasClosed) {
    fs::path kept;
    {
        TempFolder folder;
        kept = folder.Path();
        fs::create_directories(kept / "closed" / "deeper");
        WriteFile(folder / "closed/deeper/file", "x");
        ASSERT_EQ(::chmod((kept / "closed" / "deeper").c_str(), 0), 0);
        ASSERT_EQ(::chmod((kept / "closed").c_str(), 0), 0);
        fs::create_directory_symlink("/", kept / "link-to-root"); // never followed
    }
    EXPECT_FALSE(fs::exists(kept));
    EXPECT_TRUE(fs::exists("/tmp")) << "the link's target is untouched";
}

TEST(TempFolderTest, FilesRoundTripAndAMissingOneReadsAsNone) {
    TempFolder folder;
    WriteFile(folder / "bytes", std::string("a\0b\r\n", 5));
    EXPECT_EQ(ReadFile(folder / "bytes"), std::string("a\0b\r\n", 5));
    EXPECT_EQ(ReadFile(folder / "missing"), std::nullopt);
    EXPECT_THROW(WriteFile(folder / "no/such/folder/file", "x"), std::runtime_error);
}

TEST(ScopedEnvTest, PutsBackWhatWasThere) {
    const char* name = "CORVALE_SCOPED_ENV_TEST";
    ::setenv(name, "before", 1);
    {
        ScopedEnv changed(name, "during");
        EXPECT_EQ(Env(name), "during");
        {
            ScopedEnv removed(name, std::nullopt);
            EXPECT_EQ(Env(name), std::nullopt);
        }
        EXPECT_EQ(Env(name), "during");
    }
    EXPECT_EQ(Env(name), "before");
    {
        ScopedEnv empty(name, "");
        EXPECT_EQ(Env(name), "") << "set, but empty";
    }
    EXPECT_EQ(Env(name), "before");
    ::unsetenv(name);
    {
        ScopedEnv added(name, "during");
        EXPECT_EQ(Env(name), "during");
    }
    EXPECT_EQ(Env(name), std::nullopt) << "absent before, absent after";
}

} // namespace
} // namespace testing_support
