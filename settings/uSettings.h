#pragma once
// The settings file and start with the system: what the main window loads at start-up, stores
// when the user saves the Options page and saves at exit. Every operation writes its keys to
// the file at once, key by key; there is no unsaved state.
//
// Errors: a refused write raises EWriteError ("Unable to write to <file>"), a Run value that
// cannot be written or removed platform::ERegistryError (the system's message), a number text
// that is still no valid integer EConvertError. All derive from std::runtime_error. An error
// ends the operation at that step: what was set and written before stays, later steps do not
// run. The window shows the error and applies whatever the operation had already changed.

#include "core/uEndpoint.h"
#include "core/uTypes.h"
#include "settings/uIniFile.h"
#include "settings/uWidthList.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

// Sections and keys of the settings file.
inline constexpr std::string_view kSectionMain = "Main";
inline constexpr std::string_view kSectionColumns = "Columns";
inline constexpr std::string_view kKeyId = "id";
inline constexpr std::string_view kKeyPassword = "password";
inline constexpr std::string_view kKeyCheckInterval = "check_interval";
inline constexpr std::string_view kKeyStartup = "startup";
inline constexpr std::string_view kKeyStartHidden = "start_hidden";
inline constexpr std::string_view kKeyMinToTray = "min_to_tray";
inline constexpr std::string_view kKeyStayOnTop = "stay_on_top";
// The service's address as the user typed it: read at start-up, written by Save.
inline constexpr std::string_view kKeyService = "service";
// Whether a new address is told through the desktop's notifications (1/0; missing: on).
inline constexpr std::string_view kKeyNotifyChange = "notify_change";
// Trusted authorities for an "https://" service: a PEM file; read, never written.
inline constexpr std::string_view kKeyAuthorityFile = "ca_file";
// Public keys trusted for update packages besides the built-in one (comma-separated).
inline constexpr std::string_view kKeyUpdateKey = "update_key";
inline constexpr std::string_view kKeyColumnsIP = "ip";
inline constexpr std::string_view kKeyColumnsBuddies = "buddies";

// The name of the Run value (the application title).
inline constexpr std::string_view kRunValueName = "Corvale";

inline constexpr std::int32_t kDefaultCheckInterval = 900;
inline constexpr std::int32_t kMinCheckInterval = 60;
// The longest interval whose period in milliseconds fits the timer's 32 bits.
inline constexpr std::int32_t kMaxTimerIntervalSeconds = 4294967;

// The settings the main window holds in its own fields, with their defaults.
struct TSettings {
    std::int32_t CheckInterval = kDefaultCheckInterval; // seconds; >= 60 after the interval rule
    bool Startup = false;                               // the Run value exists
    bool StartHidden = true;                            // hide to the tray after the first show
    bool MinToTray = false;                             // closing the window hides it
    bool StayOnTop = false;                             // the window stays above others
    // Where the service lives ("service", read at start-up, written by Save). The window hands
    // it to the service client once loading is over, whether it ended in an error or not.
    TServiceEndpoint Service = DefaultServiceEndpoint();
    bool NotifyChange = true; // a new address is told through a desktop notification
    bool operator==(const TSettings&) const = default;
};

// What the operations work on besides TSettings. The main window fills it once:
// {.IniFile = Cfg.IniFile, .ProgramPath = <the program file>, .Account = Vars, ...}.
struct TSettingsEnv {
    std::string IniFile;     // full path of the settings file
    std::string ProgramPath; // full path of the program file: what start with the system runs
    TVars& Account;          // UserID and Password (the stored form) live here
    // SetCheckInterval calls it with the new period: stop Timer1, set the period and start it
    // again exactly when _Active is checked, so the countdown starts afresh. May be empty.
    std::function<void(std::uint32_t periodMs)> RestartCheckTimer = {};
    // SetStayOnTop calls it: the window's style becomes topmost or normal. May be empty.
    std::function<void(bool onTop)> ApplyStayOnTop = {};
};

// What the Options page holds when the user saves it.
struct TOptionsPage {
    std::string ID;                // EdtID
    std::string Password;          // EdtPswd: the readable password as typed
    std::string CheckIntervalText; // EdtCkInterval
    bool Startup = false;          // CkStartup
    bool StartHidden = true;       // CkStartMinimized
    bool MinToTray = false;        // Ck_MinToTray
    bool StayOnTop = false;        // Ck_StayOnTop
    std::string Service{};         // EdtService: empty for the built-in service
    bool NotifyChange = true;      // CkNotifyChange
};

// The Service field holds a form the service rule refuses; nothing of the page was stored.
class EServiceFormError : public std::runtime_error {
public:
    explicit EServiceFormError(const std::string& text);
};

// What the Service field shows for an endpoint: empty for the built-in service, else the
// shortest form that reads back as the same endpoint ("host", "host:8080", "https://host",
// "https://host:8443").
std::string ServiceFieldText(const TServiceEndpoint& endpoint);
// The endpoint the Service field names: the built-in one when it is empty (blanks around it
// do not count); EServiceFormError for a form that ParseServiceEndpoint refuses.
TServiceEndpoint ServiceFromField(const std::string& text);

// Interval rule: below 60 seconds (zero and negative included) becomes 900.
std::int32_t ApplyIntervalRule(std::int32_t seconds);
// The timer period for an interval: seconds x 1000, the interval taken as at most
// kMaxTimerIntervalSeconds so that the period never overflows (the stored value is unchanged).
// The window's timer takes periods only up to about 24.8 days (WindowTimerPeriod in the shell).
std::uint32_t TimerPeriodMs(std::int32_t checkInterval);

// Reads "id" and "password" into env.Account, then check_interval, startup, start_hidden,
// min_to_tray, stay_on_top, notify_change and the "service" endpoint (the built-in default when it
// is missing or no valid host[:port]) with the "update_key" keys into `settings`, and finally
// applies the "ip" and "buddies" width lists to `widths`, which come in holding the designed
// widths. Applies no range rule and writes nothing to the file. Fields are set one by one, so
// after an error (a bad width item) everything read before it stays set.
void LoadSettings(const TSettingsEnv& env, TSettings& settings, TListWidths& widths);

// The "service" endpoint as stored, with the "ca_file" authorities (a relative path is taken
// from the settings file's folder); none when "service" is missing or invalid.
std::optional<TServiceEndpoint> ReadServiceSetting(const std::string& iniFile);

// Stores the account: UserID := id, Password := ScramblePassword(password); writes "id", then
// "password" (the stored form; the readable password never reaches the file).
void SetAccount(const TSettingsEnv& env, const std::string& id, const std::string& password);
// Applies the interval rule, restarts the check timer with the new period, writes
// "check_interval".
void SetCheckInterval(const TSettingsEnv& env, TSettings& settings, std::int32_t seconds);
// Writes the Run value (the program's full path) when `flag` is set, removes it otherwise,
// then writes "startup".
void SetStartup(const TSettingsEnv& env, TSettings& settings, bool flag);
void SetStartHidden(const TSettingsEnv& env, TSettings& settings, bool flag);
void SetMinToTray(const TSettingsEnv& env, TSettings& settings, bool flag);
// Applies the window style, then writes "stay_on_top".
void SetStayOnTop(const TSettingsEnv& env, TSettings& settings, bool flag);
void SetNotifyChange(const TSettingsEnv& env, TSettings& settings, bool flag);
// Writes "service" (the field's text without surrounding blanks; empty for the built-in
// service) and takes the endpoint with the "ca_file" authorities into `settings`. The text
// must have passed ServiceFromField.
void SetService(const TSettingsEnv& env, TSettings& settings, const std::string& fieldText);

// Start-up, while the main window is created: LoadSettings, the interval rule, the timer
// period (through RestartCheckTimer; the timer stays stopped while _Active is unchecked), then
// SetStartup and SetStayOnTop with the values just read, so the Run value always matches the
// file and "startup" and "stay_on_top" are written back even when nothing changed.
void LoadSettingsAtStartup(const TSettingsEnv& env, TSettings& settings, TListWidths& widths);

// Save or Login on the Options page. The Service field is checked first: a refused form
// raises EServiceFormError before anything is stored. Then, in this order: SetAccount,
// SetCheckInterval with StrToIntSafe of the interval text, SetStartup, SetStartHidden,
// SetMinToTray, SetStayOnTop, SetNotifyChange, SetService.
void ApplyOptions(const TSettingsEnv& env, TSettings& settings, const TOptionsPage& page);

// What the Options page shows: the account (the password unscrambled), the interval in
// decimal, the four switches, the service (ServiceFieldText) and the notification switch.
TOptionsPage OptionsFromSettings(const TSettings& settings, const TVars& account);

// At exit: writes the "ip" list, then the "buddies" list, in section "Columns".
void SaveColumns(const TSettingsEnv& env, const TListWidths& widths);
