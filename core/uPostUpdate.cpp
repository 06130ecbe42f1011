#include "core/uPostUpdate.h"

#include "core/uClock.h"
#include "platform/Files.h"

namespace {

constexpr unsigned kWaitBeforeDeleteMs = 2000; // for the old instance to let go of its files

} // namespace

void HandlePostUpdate(const std::vector<std::string>& arguments) {
    if (arguments.size() < 2 || arguments[0] != "/postupdate" ||
        !platform::IsNonFolderEntry(arguments[1])) {
        return;
    }
    Sleep(kWaitBeforeDeleteMs);
    platform::RemoveFile(arguments[1]);
}

void HandlePostUpdate(int argc, const char* const* argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc && argv; ++i) {
        arguments.emplace_back(argv[i] ? argv[i] : "");
    }
    HandlePostUpdate(arguments);
}
