#pragma once
// A fresh folder under the system temporary folder (or under `base`) for one test, removed with
// everything in it (permissions a test took away included) when the test ends.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <system_error>

namespace testing_support {

class TempFolder {
public:
    TempFolder() : TempFolder(std::filesystem::temp_directory_path()) {}
    explicit TempFolder(const std::filesystem::path& base) {
        std::string pattern = (base / "corvale-test-XXXXXX");
        if (!::mkdtemp(pattern.data())) {
            throw std::runtime_error("cannot create a temporary folder");
        }
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
            if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
                ::chmod(it->path().c_str(), 0700);
            }
        }
        ::chmod(path_.c_str(), 0700);
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // The path ending in "/", as the layers that take a folder want it.
    std::string FolderPath() const { return path_.string() + '/'; }
    // The full path of `name` inside the folder.
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

// The file's bytes, or none when it cannot be opened.
inline std::optional<std::string> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The file's bytes; empty when it cannot be opened, for messages and logs that may be missing.
inline std::string ReadText(const std::string& path) {
    return ReadFile(path).value_or(std::string());
}

// Permission bits (and set-id bits) of a file.
inline unsigned ModeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0xFFFFFFFFu;
}

} // namespace testing_support
