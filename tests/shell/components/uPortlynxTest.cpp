// The companion module link, with real modules built for the tests.

#include "shell/components/uPortlynx.h"

#include "platform/System.h"
#include "support/MessageBoxRecorder.h"
#include "tests/support/TempFolder.h"

#include <QWidget>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

using ::testing::IsEmpty;
namespace fs = std::filesystem;

namespace {

TEST(CompanionPathTest, IsTheProgramFolderAndTheModuleName) {
    EXPECT_EQ(CompanionPath(), platform::FolderOf(platform::ExecutablePath()) + "portlynx.dll");
}

class CompanionTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedPath_ = CompanionPath();
        InitCompanionPathForTests(temp_.FolderPath());
    }
    void TearDown() override {
        UnloadCompanion();
        InitCompanionPathForTests(platform::FolderOf(savedPath_));
    }

    void Install(const char* builtModule) {
        fs::copy_file(builtModule, Module(), fs::copy_options::overwrite_existing);
    }
    std::string Module() const { return (folder_ / "portlynx.dll").string(); }

    // Whether the system has the module mapped, without loading it.
    bool Mapped() const {
        void* handle = dlopen(Module().c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (handle) {
            dlclose(handle);
        }
        return handle != nullptr;
    }

    void ExpectError(const char* text) {
        ASSERT_EQ(boxes.Requests().size(), 1u);
        EXPECT_EQ(boxes.Requests()[0].Text, QString::fromLatin1(text));
        EXPECT_EQ(boxes.Requests()[0].Caption, QStringLiteral("Error"));
        EXPECT_EQ(boxes.Requests()[0].Icon, TMsgIcon::Error);
        EXPECT_EQ(boxes.Requests()[0].Buttons, TMsgButtons::OK);
    }

    TMessageBoxRecorder boxes;
    QWidget window;

private:
    std::string savedPath_;
    testing_support::TempFolder temp_;
    const fs::path folder_ = temp_.Path();
};

TEST_F(CompanionTest, PathIsTheGivenFolderAndTheModuleName) {
    EXPECT_EQ(CompanionPath(), Module());
}

TEST_F(CompanionTest, MissingModuleIsNotInstalled) {
    LoadCompanion(&window);
    ExpectError("Portlynx is not installed.");
    EXPECT_FALSE(IsCompanionLoaded());
}

TEST_F(CompanionTest, FolderOfThatNameIsNotInstalled) {
    fs::create_directory(Module());
    LoadCompanion(&window);
    ExpectError("Portlynx is not installed.");
}

TEST_F(CompanionTest, FileThatIsNotALibraryCannotBeLoaded) {
    std::ofstream(Module()) << "MZ this is not a library\n";
    LoadCompanion(&window);
    ExpectError("Portlynx cannot be loaded.");
    EXPECT_FALSE(IsCompanionLoaded());
}

TEST_F(CompanionTest, ModuleWithoutTheExportStaysLoadedUntilUnloaded) {
    Install(PLX_SILENT_MODULE);
    LoadCompanion(&window);
    EXPECT_THAT(boxes.Requests(), IsEmpty());
    EXPECT_TRUE(IsCompanionLoaded());
    EXPECT_TRUE(Mapped());

    UnloadCompanion();
    EXPECT_FALSE(IsCompanionLoaded());
    EXPECT_FALSE(Mapped());
}

TEST_F(CompanionTest, LoadHandsTheWindowHandleOnceAndUnloadFreesIt) {
    Install(PLX_RECORDING_MODULE);
    LoadCompanion(&window);
    EXPECT_THAT(boxes.Requests(), IsEmpty());
    ASSERT_TRUE(IsCompanionLoaded());

    void* handle = dlopen(Module().c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(handle, nullptr);
    using TRecorded = int (*)(const char**, std::uint32_t*);
    auto recorded = reinterpret_cast<TRecorded>(dlsym(handle, "PlxRecordedCalls"));
    ASSERT_NE(recorded, nullptr);
    const char* name = nullptr;
    std::uint32_t windowHandle = 0;
    EXPECT_EQ(recorded(&name, &windowHandle), 1);
    EXPECT_STREQ(name, "cvl_hwnd");
    EXPECT_NE(windowHandle, 0u);
    EXPECT_EQ(windowHandle, static_cast<std::uint32_t>(window.winId()));
    dlclose(handle);

    UnloadCompanion();
    EXPECT_FALSE(IsCompanionLoaded());
    EXPECT_FALSE(Mapped());
}

TEST_F(CompanionTest, ReleaseAnswersTrueLoadedOrNot) {
    EXPECT_TRUE(ReleaseCompanion());
    Install(PLX_SILENT_MODULE);
    LoadCompanion(&window);
    ASSERT_TRUE(IsCompanionLoaded());
    EXPECT_TRUE(ReleaseCompanion());
    EXPECT_FALSE(IsCompanionLoaded());
    UnloadCompanion(); // nothing loaded: nothing happens
    EXPECT_FALSE(IsCompanionLoaded());
}

} // namespace
