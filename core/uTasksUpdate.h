#pragma once
// The version check and the self-update hand-over.

#include "core/uThreads.h"

#include <array>
#include <cstdint>
#include <string>

// Asks the service for the newest version and, when it is newer, offers the update.
void clver(TTaskRec& task);
// Downloads the update package, runs it, starts the updater it leaves and ends the program.
void dlupdate(TTaskRec& task);

using TVersion = std::array<std::int32_t, 4>; // major, minor, release, build

// The offered version from the lines of a version-check reply: the first four lines, each read
// with StrToIntSafe (a missing or non-numeric line counts as 0); a line that looks like a
// number but is none raises its conversion error.
TVersion OfferedVersion(const std::string& lines);
// Field by field as unsigned 32-bit numbers, the first difference deciding.
bool IsNewer(const TVersion& offered, const TVersion& own);

// The update folder below the temporary folder, and the package and updater in it.
std::string UpdateFolder();      // GetTempDir() + "corvale_update/"
std::string UpdatePackagePath(); // UpdateFolder() + kUpdatePackageName
std::string UpdaterPath();       // UpdateFolder() + "update.exe"
