#include "platform/System.h"

#include <array>
#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace platform {

std::string ComputerName() {
    std::array<char, 256> name{};
    if (gethostname(name.data(), name.size() - 1) != 0) {
        return {};
    }
    return std::string(name.data()); // up to the first zero byte
}

std::string TempPath() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = (dir && *dir) ? dir : "/tmp/";
    if (path.back() != '/') {
        path += '/';
    }
    return path;
}

std::string ExecutablePath() {
    std::array<char, PATH_MAX> buffer{};
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    return n > 0 ? std::string(buffer.data(), static_cast<std::size_t>(n)) : std::string();
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace platform
