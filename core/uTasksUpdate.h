#pragma once
// The version check and the self-update hand-over.

#include "core/uThreads.h"
#include "util/uSignature.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using TVersion = std::array<std::int32_t, 4>; // major, minor, release, build

// Asks the service for the newest version and, when it is newer, offers the update; in a
// build without self-update (a distribution package) it only says that the new version is
// installed with the system's package manager, and downloads nothing.
void clver(TTaskRec& task);

// Whether this build downloads and runs update packages (the CORVALE_SELF_UPDATE option).
bool SelfUpdateBuilt();
// Tests of the package build's behaviour in any build.
void SetSelfUpdateForTests(bool enabled);
// The update of the version the task's text names ("0.3.12.30"): fetches the signature into
// memory, then the package into the update folder, and runs the package only when the
// signature is made by a trusted key, covers the file as written and names that version,
// which must be newer than our own. Then starts the updater the package leaves and ends the
// program. A package that is refused is deleted, never made a program, and a box ("Updates")
// says the update could not be verified; the program runs on.
void dlupdate(TTaskRec& task);
// The record of the update of `offered`.
std::unique_ptr<TTaskRec> NewDlupdateTask(const TVersion& offered);

// "major.minor.release.build", as a signature's trusted comment names the version.
std::string VersionText(const TVersion& version);
// Exactly four signed decimal numbers separated by dots; none for anything else.
std::optional<TVersion> ParseVersionText(std::string_view text);

// The release key the program is built with (the key line of packaging/update-key.pub).
std::string BuiltInUpdateKey();
// The keys packages are trusted from: the built-in one, then each key of `extraKeys` (key
// lines separated by commas or blanks; one that is no public key is left out).
std::vector<TUpdatePublicKey> TrustedUpdateKeys(std::string_view extraKeys);

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
