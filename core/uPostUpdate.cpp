#include "core/uPostUpdate.h"

#include "core/uClock.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr unsigned kWaitBeforeDeleteMs = 2000; // for the old instance to let go of its files

bool IsExistingFile(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::lstat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

} // namespace

void HandlePostUpdate(const std::vector<std::string>& arguments) {
    if (arguments.size() < 2 || arguments[0] != "/postupdate" || !IsExistingFile(arguments[1])) {
        return;
    }
    Sleep(kWaitBeforeDeleteMs);
    ::unlink(arguments[1].c_str());
}

void HandlePostUpdate(int argc, const char* const* argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc && argv; ++i) {
        arguments.emplace_back(argv[i] ? argv[i] : "");
    }
    HandlePostUpdate(arguments);
}
