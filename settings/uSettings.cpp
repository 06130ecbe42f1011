#include "settings/uSettings.h"

#include "platform/RunValue.h"
#include "util/Lib1.h"
#include "util/uBase64.h"

#include <algorithm>

namespace {

std::string TrimBlanks(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

std::int32_t ApplyIntervalRule(std::int32_t seconds) {
    return seconds < kMinCheckInterval ? kDefaultCheckInterval : seconds;
}

std::uint32_t TimerPeriodMs(std::int32_t checkInterval) {
    const std::int32_t seconds = std::clamp(checkInterval, 0, kMaxTimerIntervalSeconds);
    return static_cast<std::uint32_t>(seconds) * 1000u;
}

std::optional<TServiceEndpoint> ReadServiceSetting(const std::string& iniFile) {
    auto endpoint = ParseServiceEndpoint(ReadIniString(iniFile, kSectionMain, kKeyService, ""));
    if (endpoint) {
        std::string authorities = ReadIniString(iniFile, kSectionMain, kKeyAuthorityFile, "");
        if (!authorities.empty() && authorities.front() != '/') {
            const auto slash = iniFile.rfind('/');
            authorities.insert(0, slash == std::string::npos ? "" : iniFile.substr(0, slash + 1));
        }
        endpoint->AuthorityFile = std::move(authorities);
    }
    return endpoint;
}

void LoadSettings(const TSettingsEnv& env, TSettings& settings, TListWidths& widths) {
    const std::string& ini = env.IniFile;
    env.Account.UserID = ReadIniString(ini, kSectionMain, kKeyId, "");
    env.Account.Password = ReadIniString(ini, kSectionMain, kKeyPassword, "");
    settings.CheckInterval =
        ReadIniInteger(ini, kSectionMain, kKeyCheckInterval, kDefaultCheckInterval);
    settings.Startup = ReadIniBool(ini, kSectionMain, kKeyStartup, false);
    settings.StartHidden = ReadIniBool(ini, kSectionMain, kKeyStartHidden, true);
    settings.MinToTray = ReadIniBool(ini, kSectionMain, kKeyMinToTray, false);
    settings.StayOnTop = ReadIniBool(ini, kSectionMain, kKeyStayOnTop, false);
    settings.NotifyChange = ReadIniBool(ini, kSectionMain, kKeyNotifyChange, true);
    settings.Service = ReadServiceSetting(ini).value_or(DefaultServiceEndpoint());
    // Also for the built-in service: an operator's key is trusted wherever it is configured.
    settings.Service.UpdateKeys = ReadIniString(ini, kSectionMain, kKeyUpdateKey, "");
    ApplyWidthList(ReadIniString(ini, kSectionColumns, kKeyColumnsIP, ""), widths.IP);
    ApplyWidthList(ReadIniString(ini, kSectionColumns, kKeyColumnsBuddies, ""), widths.Buddies);
}

void SetAccount(const TSettingsEnv& env, const std::string& id, const std::string& password) {
    env.Account.UserID = id;
    env.Account.Password = ScramblePassword(password);
    WriteIniString(env.IniFile, kSectionMain, kKeyId, id);
    WriteIniString(env.IniFile, kSectionMain, kKeyPassword, env.Account.Password.Load());
}

void SetCheckInterval(const TSettingsEnv& env, TSettings& settings, std::int32_t seconds) {
    settings.CheckInterval = ApplyIntervalRule(seconds);
    if (env.RestartCheckTimer) {
        env.RestartCheckTimer(TimerPeriodMs(settings.CheckInterval));
    }
    WriteIniInteger(env.IniFile, kSectionMain, kKeyCheckInterval, settings.CheckInterval);
}

void SetStartup(const TSettingsEnv& env, TSettings& settings, bool flag) {
    settings.Startup = flag;
    if (flag) {
        platform::WriteRegValue(kRunValueName, env.ProgramPath);
    } else {
        platform::DeleteRegValue(kRunValueName);
    }
    WriteIniBool(env.IniFile, kSectionMain, kKeyStartup, flag);
}

void SetStartHidden(const TSettingsEnv& env, TSettings& settings, bool flag) {
    settings.StartHidden = flag;
    WriteIniBool(env.IniFile, kSectionMain, kKeyStartHidden, flag);
}

void SetMinToTray(const TSettingsEnv& env, TSettings& settings, bool flag) {
    settings.MinToTray = flag;
    WriteIniBool(env.IniFile, kSectionMain, kKeyMinToTray, flag);
}

void SetStayOnTop(const TSettingsEnv& env, TSettings& settings, bool flag) {
    settings.StayOnTop = flag;
    if (env.ApplyStayOnTop) {
        env.ApplyStayOnTop(flag);
    }
    WriteIniBool(env.IniFile, kSectionMain, kKeyStayOnTop, flag);
}

void SetNotifyChange(const TSettingsEnv& env, TSettings& settings, bool flag) {
    settings.NotifyChange = flag;
    WriteIniBool(env.IniFile, kSectionMain, kKeyNotifyChange, flag);
}

void SetService(const TSettingsEnv& env, TSettings& settings, const std::string& fieldText) {
    WriteIniString(env.IniFile, kSectionMain, kKeyService, TrimBlanks(fieldText));
    // The page has no field for the trusted update keys: they stay as the file names them.
    std::string updateKeys = std::move(settings.Service.UpdateKeys);
    settings.Service = ReadServiceSetting(env.IniFile).value_or(DefaultServiceEndpoint());
    settings.Service.UpdateKeys = std::move(updateKeys);
}

void LoadSettingsAtStartup(const TSettingsEnv& env, TSettings& settings, TListWidths& widths) {
    LoadSettings(env, settings, widths);
    settings.CheckInterval = ApplyIntervalRule(settings.CheckInterval);
    if (env.RestartCheckTimer) {
        env.RestartCheckTimer(TimerPeriodMs(settings.CheckInterval));
    }
    SetStartup(env, settings, settings.Startup);
    SetStayOnTop(env, settings, settings.StayOnTop);
}

void ApplyOptions(const TSettingsEnv& env, TSettings& settings, const TOptionsPage& page) {
    ServiceFromField(page.Service);
    SetAccount(env, page.ID, page.Password);
    SetCheckInterval(env, settings, StrToIntSafe(page.CheckIntervalText));
    SetStartup(env, settings, page.Startup);
    SetStartHidden(env, settings, page.StartHidden);
    SetMinToTray(env, settings, page.MinToTray);
    SetStayOnTop(env, settings, page.StayOnTop);
    SetNotifyChange(env, settings, page.NotifyChange);
    SetService(env, settings, page.Service);
}

TOptionsPage OptionsFromSettings(const TSettings& settings, const TVars& account) {
    return {account.UserID.Load(),
            UnscramblePassword(account.Password.Load()),
            std::to_string(settings.CheckInterval),
            settings.Startup,
            settings.StartHidden,
            settings.MinToTray,
            settings.StayOnTop,
            ServiceFieldText(settings.Service),
            settings.NotifyChange};
}

EServiceFormError::EServiceFormError(const std::string& text)
    : std::runtime_error("\"" + text +
                         "\" is not a service address. Write HOST or HOST:PORT, optionally "
                         "after http:// or https://, for example service.example.org:8080 or "
                         "https://service.example.org") {}

std::string ServiceFieldText(const TServiceEndpoint& endpoint) {
    TServiceEndpoint builtIn = DefaultServiceEndpoint();
    builtIn.AuthorityFile = endpoint.AuthorityFile;
    builtIn.UpdateKeys = endpoint.UpdateKeys;
    if (endpoint == builtIn) {
        return {};
    }
    const std::uint16_t schemePort =
        endpoint.Secure ? kDefaultSecureServicePort : kDefaultServicePort;
    std::string text = (endpoint.Secure ? "https://" : "") + endpoint.Host;
    if (endpoint.Port != schemePort) {
        text += ":" + std::to_string(endpoint.Port);
    }
    return text;
}

TServiceEndpoint ServiceFromField(const std::string& text) {
    const std::string trimmed = TrimBlanks(text);
    if (trimmed.empty()) {
        return DefaultServiceEndpoint();
    }
    auto endpoint = ParseServiceEndpoint(trimmed);
    if (!endpoint) {
        throw EServiceFormError(trimmed);
    }
    return *endpoint;
}

void SaveColumns(const TSettingsEnv& env, const TListWidths& widths) {
    WriteIniString(env.IniFile, kSectionColumns, kKeyColumnsIP, FormatWidthList(widths.IP));
    WriteIniString(env.IniFile, kSectionColumns, kKeyColumnsBuddies,
                   FormatWidthList(widths.Buddies));
}
