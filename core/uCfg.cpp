#include "core/uCfg.h"

#include "platform/AtomicFile.h"
#include "platform/System.h"
#include "platform/UserFolders.h"

#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace {

// Holds one object whose destructor never runs.
template <typename T> union TImmortal {
    TImmortal() : Value() {}
    ~TImmortal() {}
    T Value;
};

TImmortal<TConfig> config;
TImmortal<TVars> variables;

} // namespace

TConfig& Cfg = config.Value;
TVars& Vars = variables.Value;

namespace {

constexpr const char* kSettingsFileName = "corvale.ini";
constexpr const char* kSettingsFolderName = "corvale";
// A settings write takes milliseconds; a temporary file this old was left by one that died.
constexpr std::chrono::seconds kStaleReplacementAge{60};

bool FileExists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

template <typename... Args> std::string Format(const char* pattern, Args... args) {
    char text[256];
    std::snprintf(text, sizeof text, pattern, args...);
    return text;
}

} // namespace

void InitCfg(const std::string& programPath, const std::string& computerName) {
    TProduct& p = Cfg.Product;
    p.Name = "Corvale";
    p.Major = 0;
    p.Minor = 3;
    p.Release = 11;
    p.Build = 25;
    p.ReleaseDate = "November 11, 2006";
    p.VersionText =
        Format("%s %d.%d.%d (build %d)", p.Name.c_str(), p.Major, p.Minor, p.Release, p.Build);

    Cfg.AppPath = platform::FolderOf(programPath);
    Cfg.IniFile = SettingsFileLocation(Cfg.AppPath);

    Vars.IP = std::string();
    Vars.UserID = std::string();
    Vars.Password = std::string();
    Vars.LoginID = std::string();
    Vars.ChangeTime = 0.0;
    Vars.HostName = computerName;
}

void InitCfg() {
    InitCfg(platform::ExecutablePath(), platform::ComputerName());
    PrepareSettingsFolder();
}

std::string SettingsFileLocation(const std::string& appPath) {
    const std::string portable = appPath + kSettingsFileName;
    if (FileExists(portable) || platform::IsWritableFolder(appPath.empty() ? "." : appPath)) {
        return portable;
    }
    const std::string configHome = platform::ConfigHome();
    if (configHome.empty()) {
        return portable;
    }
    return configHome + "/" + kSettingsFolderName + "/" + kSettingsFileName;
}

void PrepareSettingsFolder() {
    const std::string folder = platform::FolderOf(Cfg.IniFile);
    if (folder != Cfg.AppPath && !folder.empty()) {
        // A folder that cannot be made shows up as the first refused write, with its path.
        [[maybe_unused]] const auto ignored = platform::CreatePrivateFolders(folder);
    }
    platform::RemoveStaleReplacements(Cfg.IniFile, kStaleReplacementAge);
}

std::string CaptionBase() {
    const TProduct& p = Cfg.Product;
    return Format("%s %d.%d.%d", p.Name.c_str(), p.Major, p.Minor, p.Release);
}

std::string VersionParameter() {
    const TProduct& p = Cfg.Product;
    return Format("%d.%d.%d.%d", p.Major, p.Minor, p.Release, p.Build);
}
