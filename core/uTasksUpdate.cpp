#include "core/uTasksUpdate.h"

#include "core/Net.h"
#include "core/WindowOps.h"
#include "core/uCfg.h"
#include "core/uEndpoint.h"
#include "core/uTasks.h"
#include "core/uTools.h"
#include "util/Lib1.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kUpdatesCaption = "Updates";
constexpr const char* kNoNewVersion = "There is no new version available.";
constexpr const char* kUpdateFailed = "Update process failed.";
constexpr const char* kAskAutomaticUpdate =
    "Do you want to automaticaly update to new version ?\n\n"
    "If you choose \"No\", you will be invited to download it manualy.";

TVersion OwnVersion() {
    const TProduct& p = Cfg.Product;
    return {p.Major, p.Minor, p.Release, p.Build};
}

std::string NewVersionQuestion(const TVersion& v) {
    char version[64];
    std::snprintf(version, sizeof version, "%d.%d.%d (build %d)", v[0], v[1], v[2], v[3]);
    return std::string("A new version of Corvale is available:\n\nCorvale ") + version +
           "\n\nWould you like to get now the new version ?";
}

TMsgAnswer Ask(const std::string& text) {
    return WindowOps().ShowMessage(text, kUpdatesCaption, TMsgButtons::YesNo);
}

void ShowUpdateFailed() {
    WindowOps().ShowMessage(kUpdateFailed, kUpdatesCaption, TMsgButtons::OK);
}

// The update folder exists, is ours and no one else can write to it: the temporary folder
// may be shared with other users, who must not be able to swap the package we are about to
// run. A folder of ours that others could write to is closed to them first.
bool PrepareUpdateFolder(const std::string& folder) {
    std::string path = folder;
    if (!path.empty() && path.back() == '/') {
        path.pop_back();
    }
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) {
        return false;
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && ::chmod(path.c_str(), 0700) != 0) {
        return false;
    }
    return true;
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Runs the package hidden in the update folder and waits for its end; false when it cannot
// be started. Downloads are never executable here, and the package is a program.
bool RunPackage(const std::string& package) {
    if (::chmod(package.c_str(), 0700) != 0) {
        return false;
    }
    try {
        RunProgram(package, "", SW_HIDE, true); // its exit code means nothing to us
    } catch (const ERunProgramError&) {
        return false;
    }
    return true;
}

} // namespace

TVersion OfferedVersion(const std::string& lines) {
    TArrayOfString values(5);
    SplitToArray(lines, "\n", values);
    TVersion version{};
    for (std::size_t i = 0; i < version.size(); ++i) {
        version[i] = StrToIntSafe(values[i]); // trims blanks and control characters (CR)
    }
    return version;
}

bool IsNewer(const TVersion& offered, const TVersion& own) {
    for (std::size_t i = 0; i < offered.size(); ++i) {
        const auto a = static_cast<std::uint32_t>(offered[i]);
        const auto b = static_cast<std::uint32_t>(own[i]);
        if (a != b) {
            return a > b;
        }
    }
    return false;
}

std::string UpdateFolder() {
    return GetTempDir() + "corvale_update/";
}
std::string UpdatePackagePath() {
    return UpdateFolder() + "cvlupf.exe";
}
std::string UpdaterPath() {
    return UpdateFolder() + "update.exe";
}

void clver(TTaskRec&) {
    const TReply reply = SplitReply(ServiceCall(ServiceRequestUrl("clver")));
    if (!reply.IsOK()) {
        ShowError(reply.Message);
        return;
    }
    const TVersion offered = OfferedVersion(reply.Message);
    if (!IsNewer(offered, OwnVersion())) {
        WindowOps().ShowMessage(kNoNewVersion, kUpdatesCaption, TMsgButtons::OK);
        return;
    }
    if (Ask(NewVersionQuestion(offered)) != TMsgAnswer::Yes) {
        return;
    }
    if (Ask(kAskAutomaticUpdate) == TMsgAnswer::Yes) {
        StartDlupdate();
    } else {
        WindowOps().OpenUrl(WebPageUrl(kHomePagePath));
    }
}

void dlupdate(TTaskRec&) {
    const std::string package = UpdatePackagePath();
    ::unlink(package.c_str()); // a missing file is no error
    if (!PrepareUpdateFolder(UpdateFolder())) {
        ShowUpdateFailed();
        return;
    }

    TMemoryBlock unused;
    std::size_t size = 0;
    if (!UrlGet(ServiceRequestUrl("dlupdate"), ServiceEndpoint().Port, package, unused, size)) {
        return; // no connection or a broken transfer: nothing to say
    }
    if (!FileExists(package)) {
        ShowUpdateFailed();
        return;
    }

    const bool ran = RunPackage(package);
    ::unlink(package.c_str());
    if (!ran) {
        ShowUpdateFailed();
        return;
    }

    try {
        RunProgram(UpdaterPath(), "1 \"" + Cfg.AppPath + "\"", SW_SHOWNORMAL, false);
    } catch (const ERunProgramError&) {
        ShowUpdateFailed(); // no updater to hand over to: the program runs on
        return;
    }
    WindowOps().PostQuitForUpdate();
}
