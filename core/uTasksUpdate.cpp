#include "core/uTasksUpdate.h"

#include "core/Net.h"
#include "core/ServiceContract.h"
#include "core/WindowOps.h"
#include "core/uCfg.h"
#include "core/uEndpoint.h"
#include "core/uTasks.h"
#include "core/uTools.h"
#include "platform/Files.h"
#include "platform/Lib1System.h"
#include "util/Lib1.h"

#include <array>
#include <cstdint>
#include <cstdio>

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

// Runs the package hidden in the update folder and waits for its end; false when it cannot
// be started. Downloads are never executable here, and the package is a program.
bool RunPackage(const std::string& package) {
    if (!platform::MakeOwnerOnlyProgram(package)) {
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
    return UpdateFolder() + std::string(kUpdatePackageName);
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
    platform::RemoveFile(package); // a missing file is no error
    // The temporary folder may be shared with other users, who must not be able to swap the
    // package we are about to run.
    if (!platform::MakePrivateFolder(UpdateFolder())) {
        ShowUpdateFailed();
        return;
    }

    const TServiceEndpoint endpoint = ServiceEndpoint();
    if (!Fetch({.Url = ServiceRequestUrl("dlupdate"),
                .Port = endpoint.Port,
                .FileName = package,
                .AuthorityFile = endpoint.AuthorityFile})
             .Ok) {
        return; // no connection or a broken transfer: nothing to say
    }
    if (!platform::IsRegularFile(package)) {
        ShowUpdateFailed();
        return;
    }

    const bool ran = RunPackage(package);
    platform::RemoveFile(package);
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
