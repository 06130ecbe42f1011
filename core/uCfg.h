#pragma once
// The process-wide configuration and run-time variables, filled once at start-up.

#include "core/uTypes.h"

#include <string>

// Never destroyed: the program does not wait for its tasks at the end, and a task still running
// while the static objects are destroyed must still find them.
extern TConfig& Cfg;
extern TVars& Vars;

// Start-up initialisation: runs once, before any window or task exists.
void InitCfg();
// The same, for a given program path and computer name (empty when it cannot be read).
void InitCfg(const std::string& programPath, const std::string& computerName);

// Where the settings file of a program in `appPath` (ending in "/") lives: "corvale.ini"
// beside the program when that file exists or the folder may be written by this user (a
// portable copy); otherwise, as for a system-wide install, corvale/corvale.ini in the user's
// configuration home. Beside the program, too, when no home folder is known.
std::string SettingsFileLocation(const std::string& appPath);

// Readies the folder of Cfg.IniFile for writes: creates it (readable by the user alone) when
// it is not the program's folder, and removes the temporary files that interrupted settings
// writes left there. Part of the program's start-up.
void PrepareSettingsFolder();

// Texts derived from the product record.
std::string CaptionBase();      // "Corvale 0.3.11"
std::string VersionParameter(); // "0.3.11.25", the "v" query value
