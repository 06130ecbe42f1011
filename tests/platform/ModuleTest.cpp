// Loading modules at run time: by exact path only, exports by name, and release.

#include "platform/Module.h"

#include "tests/support/TempFolder.h"

#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class ModuleTest : public ::testing::Test {
protected:
    static bool Mapped(const std::string& path) {
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (handle) {
            dlclose(handle);
        }
        return handle != nullptr;
    }

    testing_support::TempFolder temp_;
    const fs::path folder = temp_.Path();
};

TEST_F(ModuleTest, LoadsFindsExportsAndReleases) {
    const std::string path = (folder / "fixture.so").string();
    fs::copy_file(MODULE_FIXTURE, path);
    platform::ModuleHandle module = platform::LoadModule(path);
    ASSERT_NE(module, nullptr);
    using TAnswer = int (*)();
    auto answer = reinterpret_cast<TAnswer>(platform::ModuleSymbol(module, "CorvaleFixtureAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(platform::ModuleSymbol(module, "PLX_SET_CVL"), nullptr);
    EXPECT_TRUE(platform::FreeModule(module));
    EXPECT_FALSE(Mapped(path));
}

TEST_F(ModuleTest, FilesThatAreNoModulesDoNotLoad) {
    const std::string text = (folder / "portlynx.dll").string();
    std::ofstream(text) << "not a module";
    EXPECT_EQ(platform::LoadModule(text), nullptr);
    EXPECT_EQ(platform::LoadModule((folder / "missing.so").string()), nullptr);
    EXPECT_EQ(platform::LoadModule(folder.string()), nullptr);
    EXPECT_EQ(platform::LoadModule(""), nullptr);
}

TEST_F(ModuleTest, NothingToLookUpOrReleaseWithoutAModule) {
    EXPECT_EQ(platform::ModuleSymbol(nullptr, "CorvaleFixtureAnswer"), nullptr);
    EXPECT_FALSE(platform::FreeModule(nullptr));
}

// A bare file name means the file in the current folder, never a same-named library found
// on the system's search path.
TEST_F(ModuleTest, BareNameIsNeverSearchedFor) {
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    EXPECT_EQ(platform::LoadModule("libc.so.6"), nullptr);
    fs::copy_file(MODULE_FIXTURE, folder / "local.so");
    platform::ModuleHandle local = platform::LoadModule("local.so");
    fs::current_path(previous);
    ASSERT_NE(local, nullptr);
    EXPECT_NE(platform::ModuleSymbol(local, "CorvaleFixtureAnswer"), nullptr);
    EXPECT_TRUE(platform::FreeModule(local));
}

} // namespace
