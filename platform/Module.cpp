#include "platform/Module.h"

#include <dlfcn.h>

namespace platform {

ModuleHandle LoadModule(const std::string& path) {
    if (path.empty()) {
        return nullptr;
    }
    // dlopen searches the library path for a bare file name; a module that belongs beside the
    // program must never be replaced by a same-named one from elsewhere.
    const std::string exact = path.find('/') == std::string::npos ? "./" + path : path;
    return dlopen(exact.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* ModuleSymbol(ModuleHandle module, const std::string& name) {
    if (module == nullptr) {
        return nullptr;
    }
    return dlsym(module, name.c_str());
}

bool FreeModule(ModuleHandle module) {
    return module != nullptr && dlclose(module) == 0;
}

} // namespace platform
