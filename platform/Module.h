#pragma once
// Loading a shared library at run time and looking up its exports.

#include <string>

namespace platform {

using ModuleHandle = void*;

// Loads the library file at `path`, or answers nullptr when it cannot be loaded. The file is
// never searched for: a path without "/" names a file in the current folder, not one on the
// system's library path.
ModuleHandle LoadModule(const std::string& path);

// The address of the export `name`, or nullptr when the module has none.
void* ModuleSymbol(ModuleHandle module, const std::string& name);

// Releases a module that LoadModule gave; answers whether the system accepted the release.
bool FreeModule(ModuleHandle module);

} // namespace platform
