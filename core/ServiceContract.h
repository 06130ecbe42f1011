#pragma once
// The names the client and the service must agree on: the paths the client asks for and the
// service answers, and the name under which the update package travels. Both sides take them
// from here, so that neither can drift from the other.

#include <string_view>

// Every service call goes to this script, with the action and its values in the query.
inline constexpr std::string_view kServiceScriptPath = "/bin/corvale/cmd.php";
// The web pages the client opens in the browser and the service serves.
inline constexpr std::string_view kHomePagePath = "/tools/corvale/";
inline constexpr std::string_view kSignupPagePath = "/tools/corvale/signup.php";
// The download of the update package, the link on the home page.
inline constexpr std::string_view kUpdateDownloadPath = "/bin/corvale/cmd.php?action=dlupdate";
static_assert(kUpdateDownloadPath.starts_with(kServiceScriptPath));
// The update package's file name: the client saves it so, the service offers it so.
inline constexpr std::string_view kUpdatePackageName = "cvlupf.exe";
