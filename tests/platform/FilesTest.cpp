// The update's file-system checks and changes, on real files, links and folders.

#include "platform/Files.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using testing_support::ModeOf;
using testing_support::TempFolder;
using testing_support::WriteFile;

namespace {

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(temp_ / "file", "x");
        fs::create_directory(temp_ / "folder");
        fs::create_symlink(temp_ / "file", temp_ / "link-to-file");
        fs::create_directory_symlink(temp_ / "folder", temp_ / "link-to-folder");
        fs::create_symlink(temp_ / "missing", temp_ / "dangling");
        ASSERT_EQ(::mkfifo((temp_ / "fifo").c_str(), 0600), 0);
    }
    TempFolder temp_;
};

TEST_F(FilesTest, TellsFilesFromFolders) {
    struct Case {
        const char* name;
        bool regularFile;
        bool nonFolderEntry;
    };
    const Case cases[] = {
        {"file", true, true},         {"folder", false, false},
        {"link-to-file", true, true}, {"link-to-folder", false, true},
        {"dangling", false, true},    {"fifo", false, true},
        {"missing", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::IsRegularFile(temp_ / c.name), c.regularFile) << c.name;
        EXPECT_EQ(platform::IsNonFolderEntry(temp_ / c.name), c.nonFolderEntry) << c.name;
    }
    EXPECT_FALSE(platform::IsNonFolderEntry(""));
}

TEST_F(FilesTest, RemovingTakesTheLinkNotItsTarget) {
    EXPECT_TRUE(platform::RemoveFile(temp_ / "link-to-file"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(temp_ / "link-to-file")));
    EXPECT_TRUE(fs::exists(temp_ / "file"));
    EXPECT_TRUE(platform::RemoveFile(temp_ / "file"));
    EXPECT_FALSE(fs::exists(temp_ / "file"));
    EXPECT_TRUE(platform::RemoveFile(temp_ / "file")) << "nothing to remove is no error";
    EXPECT_FALSE(platform::RemoveFile(temp_ / "folder")) << "a folder is no file";
    EXPECT_TRUE(platform::RemoveFile(temp_ / "no-such-folder/file")) << "nor is a missing folder";
}

TEST_F(FilesTest, AProgramIsForItsOwnerOnly) {
    ASSERT_EQ(::chmod((temp_ / "file").c_str(), 0666), 0);
    EXPECT_TRUE(platform::MakeOwnerOnlyProgram(temp_ / "file"));
    EXPECT_EQ(ModeOf(temp_ / "file"), 0700u);
    EXPECT_FALSE(platform::MakeOwnerOnlyProgram(temp_ / "missing"));
}

TEST_F(FilesTest, APrivateFolderIsMadeOrClosed) {
    const std::string made = temp_ / "made";
    EXPECT_TRUE(platform::MakePrivateFolder(made + "/"));
    EXPECT_EQ(ModeOf(made), 0700u);
    EXPECT_TRUE(platform::MakePrivateFolder(made)) << "an existing one is kept";

    const std::string open = temp_ / "open";
    ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
    EXPECT_TRUE(platform::MakePrivateFolder(open));
    EXPECT_EQ(ModeOf(open), 0700u) << "closed to the others who could write to it";

    const std::string readable = temp_ / "readable";
    ASSERT_EQ(::mkdir(readable.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(readable.c_str(), 0755), 0);
    EXPECT_TRUE(platform::MakePrivateFolder(readable));
    EXPECT_EQ(ModeOf(readable), 0755u) << "others may look, not write";
}

TEST_F(FilesTest, APrivateFolderRefusesWhatIsNotAFolderOfOurs) {
    EXPECT_FALSE(platform::MakePrivateFolder(temp_ / "file"));
    EXPECT_FALSE(platform::MakePrivateFolder(temp_ / "link-to-folder")) << "a link, even to ours";
    EXPECT_FALSE(platform::MakePrivateFolder(temp_ / "no-such-folder/inner"));
    EXPECT_FALSE(platform::MakePrivateFolder(""));

    const std::string others = temp_ / "others";
    ASSERT_EQ(::mkdir(others.c_str(), 0700), 0);
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only the superuser can give a folder to another account";
    }
    ASSERT_EQ(::chown(others.c_str(), testing_support::kNobodyId, testing_support::kNobodyId), 0);
    EXPECT_FALSE(platform::MakePrivateFolder(others)) << "someone else's folder";
}

} // namespace
