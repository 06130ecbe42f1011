#include "core/uCfg.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

TEST(InitCfg, FillsProductAndPaths) {
    testing_support::TempFolder folder;
    const std::string bin = folder / "bin";
    std::filesystem::create_directory(bin);
    testing_support::WriteFile(bin + "/corvale.ini", "");
    InitCfg(bin + "/corvale", "OFFICE-PC");
    EXPECT_EQ(Cfg.Product.Name, "Corvale");
    EXPECT_EQ(Cfg.Product.Major, 0);
    EXPECT_EQ(Cfg.Product.Minor, 3);
    EXPECT_EQ(Cfg.Product.Release, 11);
    EXPECT_EQ(Cfg.Product.Build, 25);
    EXPECT_EQ(Cfg.Product.ReleaseDate, "November 11, 2006");
    EXPECT_EQ(Cfg.Product.VersionText, "Corvale 0.3.11 (build 25)");
    EXPECT_EQ(Cfg.AppPath, bin + "/");
    EXPECT_EQ(Cfg.IniFile, bin + "/corvale.ini") << "a portable copy keeps its settings";
    EXPECT_EQ(CaptionBase(), "Corvale 0.3.11");
    EXPECT_EQ(VersionParameter(), "0.3.11.25");
    EXPECT_EQ(Vars.HostName.Load(), "OFFICE-PC");
}

TEST(InitCfg, ProgramInRootFolder) {
    InitCfg("/corvale", "");
    EXPECT_EQ(Cfg.AppPath, "/");
    if (::geteuid() == 0) {
        EXPECT_EQ(Cfg.IniFile, "/corvale.ini") << "the superuser may write the root folder";
    }
    EXPECT_EQ(Vars.HostName.Load(), "") << "an unreadable computer name stays empty";
}

TEST(InitCfg, ResetsRunTimeVariables) {
    Vars.IP = std::string("192.0.2.7");
    Vars.LoginID = kLoginMarker;
    Vars.ChangeTime = 45000.5;
    InitCfg("/x/corvale", "PC");
    EXPECT_EQ(Vars.IP.Load(), "");
    EXPECT_EQ(Vars.UserID.Load(), "");
    EXPECT_EQ(Vars.Password.Load(), "");
    EXPECT_EQ(Vars.LoginID.Load(), "");
    EXPECT_EQ(Vars.ChangeTime.Load(), 0.0);
}

TEST(InitCfg, RunningProgramPathAndComputerName) {
    InitCfg();
    EXPECT_FALSE(Cfg.AppPath.empty());
    EXPECT_EQ(Cfg.AppPath.back(), '/');
    EXPECT_EQ(Cfg.IniFile, SettingsFileLocation(Cfg.AppPath));
    EXPECT_FALSE(Vars.HostName.Load().empty());
}

TEST(LoginMarker, IsTheSingleByteFF) {
    ASSERT_EQ(kLoginMarker.size(), 1u);
    EXPECT_EQ(static_cast<unsigned char>(kLoginMarker[0]), 0xFF);
}

} // namespace
