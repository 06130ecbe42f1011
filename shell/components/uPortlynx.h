#pragma once
// The link to the companion module "portlynx.dll" installed beside the program: loading it
// on the user's request hands it the main window's handle under the name "cvl_hwnd";
// unloading frees it again.

#include <cstdint>
#include <string>

class QWidget;

// The export the module offers, as the client calls it; its result is not read.
using TCompanionSetValue = void (*)(const char* name, std::uint32_t handle);

// The module file: the program's folder followed by "portlynx.dll".
const std::string& CompanionPath();
// Points the link at the module file in `programFolder` (which ends in "/") in place of the
// program's own folder, where it points from the start.
void InitCompanionPathForTests(const std::string& programFolder);

// Whether a file (not a folder) named "portlynx.dll" is there to be loaded.
bool CompanionFileExists();

bool IsCompanionLoaded();
// Loads the module and hands it the handle of `mainWindow` (created first when it has none).
// A missing or unloadable file is reported in an error box; a module without the export
// stays loaded and is told nothing.
void LoadCompanion(QWidget* mainWindow);
// Frees the module when it is loaded; a release the system refuses keeps it loaded.
void UnloadCompanion();
// UnloadCompanion, answering true.
bool ReleaseCompanion();
