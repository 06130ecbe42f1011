#pragma once
// The user's own folders: the configuration home of the desktop standards and private
// folders made inside it.

#include <string>
#include <system_error>

namespace platform {

// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config (the home folder from the
// user database when HOME is unset or not absolute); no trailing "/". Empty text when no home
// folder is known at all.
std::string ConfigHome();

// mkdir -p of `folder` (an absolute path), every folder it creates readable by the user alone
// (0700); folders that exist already keep their mode. Fails when a part is not a folder.
std::error_code CreatePrivateFolders(const std::string& folder);

// Whether this process may create files in `folder`, checked for the effective user.
bool IsWritableFolder(const std::string& folder);

} // namespace platform
