#pragma once
// A settings file and an autostart folder of their own for each test, with the window effects
// recorded in the order they happen.

#include "settings/uSettings.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

class SettingsTest : public ::testing::Test {
protected:
    void TearDown() override {
        SetServiceEndpoint({std::string(kDefaultServiceHost), kDefaultServicePort});
    }

    std::string File() const { return testing_support::ReadFile(ini_).value_or("<no file>"); }
    void GivenFile(const std::string& bytes) const { testing_support::WriteFile(ini_, bytes); }
    bool RunValueExists() const { return testing_support::ReadFile(entry_).has_value(); }

    testing_support::TempFolder temp_;
    testing_support::ScopedEnv configHome_{"XDG_CONFIG_HOME", temp_ / "config"};
    const std::string ini_ = temp_ / "corvale.ini";
    const std::string entry_ = temp_ / "config/autostart/Corvale.desktop";
    const std::string program_ = "/opt/my apps/corvale";
    TVars account_;
    std::vector<std::string> effects_;
    TSettingsEnv env_{
        .IniFile = ini_,
        .ProgramPath = program_,
        .Account = account_,
        .RestartCheckTimer =
            [this](std::uint32_t ms) { effects_.push_back("timer " + std::to_string(ms)); },
        .ApplyStayOnTop = [this](bool onTop) { effects_.push_back(onTop ? "topmost" : "normal"); }};
    TSettings settings_;
    TListWidths widths_ = DesignedListWidths();
};
