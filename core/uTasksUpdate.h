#pragma once
// The version check and the self-update hand-over.

#include "core/uThreads.h"

#include <string>

// Asks the service for the newest version and, when it is newer, offers the update.
void clver(TTaskRec& task);
// Downloads the update package, runs it, starts the updater it leaves and ends the program.
void dlupdate(TTaskRec& task);

// The update folder below the temporary folder, and the package and updater in it.
std::string UpdateFolder();      // GetTempDir() + "corvale_update/"
std::string UpdatePackagePath(); // UpdateFolder() + "cvlupf.exe"
std::string UpdaterPath();       // UpdateFolder() + "update.exe"
