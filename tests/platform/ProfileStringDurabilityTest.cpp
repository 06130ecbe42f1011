// What a refused, interrupted or failing write leaves behind.

#include "platform/AtomicFile.h"
#include "platform/ProfileString.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

using platform::ReadProfileString;
using platform::WriteProfileString;
using namespace testing_support;

namespace {

const std::string kOld = "[Main]\nid=old\n";

std::vector<std::string> FileNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

struct PermissionCase {
    const char* name;
    bool fileExists;
    mode_t folderMode, fileMode;
    const char* value;
    bool written;
};

class ProfileWritePermission : public ::testing::TestWithParam<PermissionCase> {};

// Runs the write as an ordinary user, for whom the permission bits count.
TEST_P(ProfileWritePermission, RefusedExactlyWhenTheUserMayNotWrite) {
    const PermissionCase& c = GetParam();
    TempFolder temp;
    const std::string folder = FolderForUnprivilegedChild(temp.Path());
    ASSERT_FALSE(folder.empty());
    const std::string path = folder + "/corvale.ini";
    if (c.fileExists) {
        ASSERT_TRUE(WriteFileForUnprivilegedChild(path, kOld, c.fileMode));
    }
    ASSERT_EQ(::chmod(folder.c_str(), c.folderMode), 0);

    const ChildResult result =
        RunInChild([&] { return WriteProfileString(path, "Main", "id", c.value) ? 0 : 1; }, true);
    if (result.cannotDrop) {
        GTEST_SKIP() << "cannot switch to an unprivileged user here";
    }
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, c.written ? 0 : 1);
    const std::string expected = c.written ? "[Main]\nid=" + std::string(c.value) + "\n" : kOld;
    EXPECT_EQ(ReadFile(path), c.fileExists || c.written ? std::optional(expected) : std::nullopt);
    EXPECT_EQ(FileNames(folder).size(), c.fileExists || c.written ? 1u : 0u)
        << "no temporary file may stay behind";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileWritePermission,
    ::testing::Values(PermissionCase{"WritableFileInWritableFolder", true, 0755, 0644, "new", true},
                      // The folder would let a rename replace it, but the file itself is read-only.
                      PermissionCase{"FileWithoutWritePermission", true, 0755, 0444, "new", false},
                      PermissionCase{"FileWithoutWritePermissionSameValue", true, 0755, 0444, "old",
                                     false},
                      PermissionCase{"ReadOnlyFolder", true, 0555, 0644, "new", false},
                      PermissionCase{"ReadOnlyFolderWithoutFile", false, 0555, 0, "new", false}),
    [](const auto& info) { return std::string(info.param.name); });

// The superuser may open any file for writing, so it is not refused here either.
TEST(ProfileWriteAsSuperuser, WritesAFileWithoutWriteBitsAsAnInPlaceWriteWould) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs the superuser";
    }
    TempFolder temp;
    const std::string path = temp / "corvale.ini";
    WriteFile(path, kOld);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ASSERT_TRUE(GiveToUnprivileged(path));
    EXPECT_TRUE(WriteProfileString(path, "Main", "id", "new"));
    EXPECT_EQ(ModeOf(path), 0444u);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, kNobodyId) << "the owner of the file is kept";
}

TEST(ProfileWriteDurability, KilledBetweenWriteAndRenameLeavesTheOldFile) {
    TempFolder folder;
    const std::string path = folder / "corvale.ini";
    WriteFile(path, kOld);

    const ChildResult result = RunInChild([&] {
        platform::SetBeforeReplaceHookForTests([](const std::string&) { ::raise(SIGKILL); });
        WriteProfileString(path, "Main", "id", "new");
        return 0;
    });
    EXPECT_EQ(result.signal, SIGKILL) << "the hook must have run";

    EXPECT_EQ(ReadFile(path), kOld);
    EXPECT_EQ(ReadProfileString(path, "Main", "id", ""), "old");
    // The new content was complete in the temporary file that the crash left beside it.
    std::vector<std::string> names = FileNames(folder.Path());
    ASSERT_EQ(names.size(), 2u);
    const std::string leftover = names[0] == "corvale.ini" ? names[1] : names[0];
    EXPECT_EQ(ReadFile(folder / leftover), "[Main]\nid=new\n");

    ASSERT_TRUE(WriteProfileString(path, "Main", "id", "new"));
    EXPECT_EQ(ReadFile(path), "[Main]\nid=new\n");
}

TEST(ProfileWriteDurability, FullDiskMidWriteLeavesTheOldFile) {
    TempFolder folder;
    const std::string path = folder / "corvale.ini";
    WriteFile(path, kOld);

    // A file size limit makes write() fail part-way, as a full disk does.
    const ChildResult result = RunInChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{kOld.size(), kOld.size()};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            return 2;
        }
        return WriteProfileString(path, "Main", "id", std::string(200, 'n')) ? 0 : 1;
    });
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(ReadFile(path), kOld);
    EXPECT_EQ(FileNames(folder.Path()), std::vector<std::string>{"corvale.ini"});
}

TEST(ProfileWriteDurability, UnreadableFileIsNeverReplaced) {
    TempFolder temp;
    const std::string folder = FolderForUnprivilegedChild(temp.Path());
    ASSERT_FALSE(folder.empty());
    const std::string path = folder + "/corvale.ini";
    // Writable, but what it holds cannot be read.
    ASSERT_TRUE(WriteFileForUnprivilegedChild(path, kOld, 0200));

    const ChildResult result =
        RunInChild([&] { return WriteProfileString(path, "Main", "startup", "1") ? 0 : 1; }, true);
    if (result.cannotDrop) {
        GTEST_SKIP() << "cannot switch to an unprivileged user here";
    }
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 1);
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    EXPECT_EQ(ReadFile(path), kOld);
}

// The temporary files interrupted writes leave: only our own old ones go.
TEST(ProfileWriteLeftovers, OnlyOldTemporaryFilesOfOursAreRemoved) {
    TempFolder folder;
    const std::string path = folder / "corvale.ini";
    WriteFile(path, kOld);
    const std::string elsewhere = folder / "target";
    WriteFile(elsewhere, "kept");

    enum class Kind { File, Link, Folder };
    struct Case {
        const char* name;
        Kind kind;
        bool old;
        bool ours;
        bool removed;
    };
    const Case cases[] = {
        {".corvale.ini.Ab3xYz", Kind::File, true, true, true},
        {".corvale.ini.000000", Kind::File, true, true, true},
        {".corvale.ini.Qw9rTy", Kind::File, false, true, false},  // a write under way
        {".corvale.ini.Lk2mNb", Kind::File, true, false, false},  // another user's
        {".corvale.ini.Zx8cVb", Kind::Link, true, true, false},   // never followed
        {".corvale.ini.Po7iUy", Kind::Folder, true, true, false}, // not a file
        {".corvale.ini.Ab3xY", Kind::File, true, true, false},    // other name forms
        {".corvale.ini.Ab3xYzz", Kind::File, true, true, false},
        {".corvale.ini.Ab3-Yz", Kind::File, true, true, false},
        {"corvale.ini.Ab3xYz", Kind::File, true, true, false},
        {".other.ini.Ab3xYz", Kind::File, true, true, false},
        {".corvale.ini.Ab3xYz.bak", Kind::File, true, true, false},
    };
    const timespec longAgo[2] = {{::time(nullptr) - 120, 0}, {::time(nullptr) - 120, 0}};
    for (const Case& c : cases) {
        const std::string entry = folder / c.name;
        switch (c.kind) {
        case Kind::File:
            WriteFile(entry, "[Main]\npassword=secret\n");
            break;
        case Kind::Link:
            std::filesystem::create_symlink(elsewhere, entry);
            break;
        case Kind::Folder:
            std::filesystem::create_directory(entry);
            break;
        }
        if (!c.ours) {
            if (::geteuid() != 0) {
                continue; // only the superuser can give a file away
            }
            ASSERT_EQ(::chown(entry.c_str(), kNobodyId, kNobodyId), 0);
        }
        if (c.old) {
            ASSERT_EQ(::utimensat(AT_FDCWD, entry.c_str(), longAgo, AT_SYMLINK_NOFOLLOW), 0);
        }
    }

    int expectedRemoved = 0;
    for (const Case& c : cases) {
        expectedRemoved += c.removed ? 1 : 0;
    }
    EXPECT_EQ(platform::RemoveStaleReplacements(path, std::chrono::seconds(60)), expectedRemoved);
    for (const Case& c : cases) {
        if (!c.ours && ::geteuid() != 0) {
            continue;
        }
        EXPECT_EQ(std::filesystem::exists(std::filesystem::symlink_status(folder / c.name)),
                  !c.removed)
            << c.name;
    }
    EXPECT_EQ(ReadFile(path), kOld);
    EXPECT_EQ(ReadFile(elsewhere), "kept");
}

// A settings file that is a symbolic link is written through to its target, so an
// interrupted write leaves its temporary file beside the target, not beside the link.
TEST(ProfileWriteLeftovers, ThoseOfALinkedFileAreRemovedBesideItsTarget) {
    TempFolder folder;
    std::filesystem::create_directory(folder / "program");
    std::filesystem::create_directory(folder / "kept");
    const std::string link = folder / "program/corvale.ini";
    const std::string target = folder / "kept/settings.ini";
    WriteFile(target, kOld);
    std::filesystem::create_symlink(target, link);

    const ChildResult result = RunInChild([&] {
        platform::SetBeforeReplaceHookForTests([](const std::string&) { ::raise(SIGKILL); });
        WriteProfileString(link, "Main", "id", "new");
        return 0;
    });
    ASSERT_EQ(result.signal, SIGKILL) << "the hook must have run";
    std::vector<std::string> names = FileNames(folder / "kept");
    ASSERT_EQ(names.size(), 2u);
    const std::string leftover = names[0] == "settings.ini" ? names[1] : names[0];
    ASSERT_EQ(leftover.rfind(".settings.ini.", 0), 0u) << leftover;
    const std::string leftoverPath = folder / ("kept/" + leftover);
    const timespec longAgo[2] = {{::time(nullptr) - 120, 0}, {::time(nullptr) - 120, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, leftoverPath.c_str(), longAgo, 0), 0);

    EXPECT_EQ(platform::RemoveStaleReplacements(link, std::chrono::seconds(60)), 1);
    EXPECT_EQ(FileNames(folder / "kept"), std::vector<std::string>{"settings.ini"});
    EXPECT_EQ(FileNames(folder / "program"), std::vector<std::string>{"corvale.ini"});
    EXPECT_EQ(ReadFile(link), kOld);
}

TEST(ProfileWriteLeftovers, AMissingFolderRemovesNothing) {
    EXPECT_EQ(platform::RemoveStaleReplacements("/nonexistent-folder/corvale.ini",
                                                std::chrono::seconds(60)),
              0);
}

} // namespace
