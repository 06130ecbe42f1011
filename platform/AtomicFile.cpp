#include "platform/AtomicFile.h"

#include "platform/System.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

std::function<void(const std::string&)>& BeforeReplaceHook() {
    static std::function<void(const std::string&)> hook;
    return hook;
}

std::error_code LastError() {
    return {errno, std::generic_category()};
}

// A file descriptor that is closed on every path.
class TFd {
public:
    explicit TFd(int fd) : fd_(fd) {}
    ~TFd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return fd_; }
    // Closes now and reports the result: a write error may only show up here.
    std::error_code Close() {
        const int fd = std::exchange(fd_, -1);
        return ::close(fd) == 0 ? std::error_code() : LastError();
    }

private:
    int fd_;
};

// The temporary file beside the target; removed unless it took the target's place.
class TTempFile {
public:
    explicit TTempFile(std::string path) : path_(std::move(path)) {}
    ~TTempFile() {
        if (!path_.empty()) {
            ::unlink(path_.c_str());
        }
    }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;
    const std::string& Path() const { return path_; }
    void Keep() { path_.clear(); }

private:
    std::string path_;
};

std::string BaseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

constexpr std::string_view kTempSuffix = ".XXXXXX";

// The name mkostemp gives the temporary file of `baseName`: ".<baseName>." and six letters
// or digits.
bool IsTempNameOf(std::string_view name, const std::string& baseName) {
    const std::size_t prefix = 1 + baseName.size();
    if (name.size() != prefix + kTempSuffix.size() || name[0] != '.' ||
        name.substr(1, baseName.size()) != baseName || name[prefix] != '.') {
        return false;
    }
    for (char c : name.substr(prefix + 1)) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

// The file a symbolic link finally names, so that the link itself survives the rename.
std::string FollowLinks(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
        return path;
    }
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         &std::free);
    return resolved ? std::string(resolved.get()) : path;
}

std::error_code WriteAll(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LastError();
        }
        content.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

// Makes the rename itself durable; a folder that cannot be synced is no reason to fail,
// since the new content is in place either way.
void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

std::optional<std::string> ReadFileBytes(const std::string& path, std::error_code& error) {
    error.clear();
    TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        error = LastError();
        return std::nullopt;
    }
    std::string bytes;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n == 0) {
            return bytes;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = LastError();
            return std::nullopt;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

std::error_code CheckWritable(const std::string& path) {
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 ? std::error_code()
                                                                      : LastError();
}

std::error_code ReplaceFileAtomically(const std::string& requestedPath, std::string_view content,
                                      mode_t newFileMode) {
    const std::string path = FollowLinks(requestedPath);
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (!exists && errno != ENOENT) {
        return LastError();
    }
    if (exists) {
        if (S_ISDIR(existing.st_mode)) {
            return std::make_error_code(std::errc::is_a_directory);
        }
        if (const auto error = CheckWritable(path)) {
            return error;
        }
    }

    const std::string folder = FolderOf(path);
    std::string pattern = folder + "." + BaseName(path) + std::string(kTempSuffix);
    TFd fd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (fd.Get() < 0) {
        return LastError();
    }
    TTempFile temp(pattern);

    const mode_t mode = exists ? (existing.st_mode & 07777) : newFileMode;
    if (::fchmod(fd.Get(), mode) != 0) {
        return LastError();
    }
    if (exists && (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid())) {
        // Keeps the owner when the superuser edits a user's file; others cannot, and their
        // copy then belongs to them, as any editor's saved file would.
        [[maybe_unused]] const int ignored = ::fchown(fd.Get(), existing.st_uid, existing.st_gid);
    }
    if (auto error = WriteAll(fd.Get(), content)) {
        return error;
    }
    if (::fsync(fd.Get()) != 0) {
        return LastError();
    }
    if (auto error = fd.Close()) {
        return error;
    }

    if (const auto& hook = BeforeReplaceHook()) {
        hook(temp.Path());
    }
    if (::rename(temp.Path().c_str(), path.c_str()) != 0) {
        return LastError();
    }
    temp.Keep();
    SyncFolder(folder.empty() ? std::string(".") : folder);
    return {};
}

int RemoveStaleReplacements(const std::string& requestedPath, std::chrono::seconds minimumAge) {
    // Writes through a symbolic link leave their temporary files beside its target.
    const std::string path = FollowLinks(requestedPath);
    const std::string folder = FolderOf(path);
    const std::string baseName = BaseName(path);
    const auto closeDir = [](DIR* d) { ::closedir(d); };
    std::unique_ptr<DIR, decltype(closeDir)> dir(::opendir(folder.empty() ? "." : folder.c_str()),
                                                 closeDir);
    if (!dir) {
        return 0;
    }
    const auto now = std::chrono::system_clock::now();
    int removed = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!IsTempNameOf(entry->d_name, baseName)) {
            continue;
        }
        struct stat info {};
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
            continue;
        }
        const auto changed = std::chrono::system_clock::from_time_t(info.st_mtim.tv_sec);
        if (now - changed <= minimumAge) {
            continue;
        }
        if (::unlinkat(::dirfd(dir.get()), entry->d_name, 0) == 0) {
            ++removed;
        }
    }
    return removed;
}

void SetBeforeReplaceHookForTests(std::function<void(const std::string& tempPath)> hook) {
    BeforeReplaceHook() = std::move(hook);
}

} // namespace platform
