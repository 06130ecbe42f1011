#include "core/uCfg.h"

#include "platform/System.h"

#include <cstdio>

TConfig Cfg;
TVars Vars;

namespace {

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
    Cfg.IniFile = Cfg.AppPath + "corvale.ini";

    Vars.IP = std::string();
    Vars.UserID = std::string();
    Vars.Password = std::string();
    Vars.LoginID = std::string();
    Vars.ChangeTime = 0.0;
    Vars.HostName = computerName;
}

void InitCfg() {
    InitCfg(platform::ExecutablePath(), platform::ComputerName());
}

std::string CaptionBase() {
    const TProduct& p = Cfg.Product;
    return Format("%s %d.%d.%d", p.Name.c_str(), p.Major, p.Minor, p.Release);
}

std::string VersionParameter() {
    const TProduct& p = Cfg.Product;
    return Format("%d.%d.%d.%d", p.Major, p.Minor, p.Release, p.Build);
}
