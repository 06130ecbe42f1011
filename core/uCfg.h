#pragma once
// The process-wide configuration and run-time variables, filled once at start-up.

#include "core/uTypes.h"

#include <string>

extern TConfig Cfg;
extern TVars Vars;

// Start-up initialisation: runs once, before any window or task exists.
void InitCfg();
// The same, for a given program path and computer name (empty when it cannot be read).
void InitCfg(const std::string& programPath, const std::string& computerName);

// Texts derived from the product record.
std::string CaptionBase();      // "Corvale 0.3.11"
std::string VersionParameter(); // "0.3.11.25", the "v" query value
