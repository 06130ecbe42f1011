// The clean-up the program does when the updater restarts it with "/postupdate".

#include "core/uClock.h"
#include "core/uPostUpdate.h"
#include "tests/support/ScopedSeam.h"
#include "tests/support/TempFolder.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>

namespace {

namespace fs = std::filesystem;

class PostUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        leftover_ = root_ / "old corvale.bak";
        std::ofstream(leftover_) << "old";
    }
    struct Wait {
        unsigned ms;
        bool fileStillThere;
    };
    std::vector<Wait> Waits() {
        std::lock_guard lock(mutex_);
        return waits_;
    }

    testing_support::TempFolder temp_;
    const fs::path root_ = temp_.Path();
    fs::path leftover_;
    std::mutex mutex_;
    std::vector<Wait> waits_;
    // The wait is noted, with whether the file was still there, instead of taken.
    testing_support::ScopedSeam<TClockSeam> clock_{
        SetClockForTests, TClockSeam{nullptr, [this](unsigned ms) {
                                         std::lock_guard lock(mutex_);
                                         waits_.push_back({ms, fs::exists(leftover_)});
                                     }}};
};

TEST_F(PostUpdateTest, ExistingFileIsDeletedAfterTwoSeconds) {
    HandlePostUpdate({"/postupdate", leftover_.string()});
    ASSERT_EQ(Waits().size(), 1u);
    EXPECT_EQ(Waits()[0].ms, 2000u);
    EXPECT_TRUE(Waits()[0].fileStillThere) << "the wait comes before the delete";
    EXPECT_FALSE(fs::exists(leftover_));
}

TEST_F(PostUpdateTest, ProgramArgumentsAfterTheProgramName) {
    const std::string path = leftover_.string();
    const char* argv[] = {"/opt/corvale/corvale", "/postupdate", path.c_str(), "extra"};
    HandlePostUpdate(4, argv);
    EXPECT_EQ(Waits().size(), 1u);
    EXPECT_FALSE(fs::exists(leftover_));
}

TEST_F(PostUpdateTest, AnythingElseDoesNothingAtOnce) {
    const std::string path = leftover_.string();
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"/postupdate"},
        {"/POSTUPDATE", path},
        {"/postupdate ", path},
        {"postupdate", path},
        {path, "/postupdate"},
        {"/postupdate", (root_ / "missing").string()},
        {"/postupdate", ""},
        {"/postupdate", root_.string()}, // a folder is no file
    };
    for (const auto& arguments : cases) {
        HandlePostUpdate(arguments);
    }
    const char* argv[] = {"/postupdate", path.c_str()}; // the program's own name is no argument
    HandlePostUpdate(2, argv);
    HandlePostUpdate(0, nullptr);
    EXPECT_TRUE(Waits().empty());
    EXPECT_TRUE(fs::exists(leftover_));
    EXPECT_TRUE(fs::exists(root_));
}

} // namespace
