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

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <utility>

#ifndef CORVALE_SELF_UPDATE
#error "the build says whether the client updates itself (CORVALE_SELF_UPDATE)"
#endif
#ifndef CORVALE_RELEASE_UPDATE_KEY
#error "the build names the release update key (packaging/update-key.pub)"
#endif

namespace {

constexpr const char* kUpdatesCaption = "Updates";
constexpr const char* kNoNewVersion = "There is no new version available.";
constexpr const char* kUpdateFailed = "Update process failed.";
constexpr const char* kAskAutomaticUpdate =
    "Do you want to automaticaly update to new version ?\n\n"
    "If you choose \"No\", you will be invited to download it manualy.";

std::atomic<bool> SelfUpdate{CORVALE_SELF_UPDATE != 0};

std::string PackageManagerText(const TVersion& v) {
    char version[64];
    std::snprintf(version, sizeof version, "%d.%d.%d (build %d)", v[0], v[1], v[2], v[3]);
    return std::string("A new version of Corvale is available:\n\nCorvale ") + version +
           "\n\nThis copy was installed with the system's package manager: install the new "
           "version with it (for example with \"apt upgrade\").";
}

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

void ShowNotVerified(const std::string& reason) {
    WindowOps().ShowMessage("The update could not be verified and was not installed.\n\n"
                            "Reason: " +
                                reason + ".",
                            kUpdatesCaption, TMsgButtons::OK);
}

// The signature for the update of `offered`, or none with the reason it is refused; what it
// is checked against here is its own claim: the verifier proves the comment later.
std::optional<TUpdateSignature> OfferedSignature(const TMemoryBlock& body,
                                                 const std::optional<TVersion>& offered,
                                                 std::string& reason) {
    if (!body) {
        reason = "the service sent no signature";
        return std::nullopt;
    }
    std::string text = *body;
    if (!text.empty() && text.back() == '\0') {
        text.pop_back(); // the zero the memory destination adds
    }
    auto signature = ParseUpdateSignature(text, reason);
    if (!signature) {
        reason = "the signature file is malformed: " + reason;
        return std::nullopt;
    }
    const std::string signedText = SignedVersion(signature->TrustedComment);
    const auto signedVersion = ParseVersionText(signedText);
    if (!signedVersion) {
        reason = "the signature names no version";
        return std::nullopt;
    }
    if (!offered || *signedVersion != *offered) {
        reason = "the signature is for version " + signedText + ", not for the version offered";
        return std::nullopt;
    }
    if (!IsNewer(*signedVersion, OwnVersion())) {
        reason = "the signed version " + signedText + " is not newer than this one";
        return std::nullopt;
    }
    return signature;
}

// Hashes the package as it lies on disk and checks the signature against the trusted keys.
bool PackageVerifies(const std::string& package, const TUpdateSignature& signature,
                     const std::string& extraKeys, std::string& reason) {
    TSignatureVerifier verifier;
    if (!platform::ReadFileInChunks(package, [&](const unsigned char* data, std::size_t size) {
            verifier.Update(data, size);
        })) {
        reason = "the package could not be read";
        return false;
    }
    return verifier.Finish(signature, TrustedUpdateKeys(extraKeys), reason);
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

bool SelfUpdateBuilt() {
    return CORVALE_SELF_UPDATE != 0;
}

void SetSelfUpdateForTests(bool enabled) {
    SelfUpdate.store(enabled);
}

std::string VersionText(const TVersion& v) {
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
           std::to_string(v[3]);
}

std::optional<TVersion> ParseVersionText(std::string_view text) {
    TVersion version{};
    const char* at = text.data();
    const char* const end = text.data() + text.size();
    for (std::size_t i = 0; i < version.size(); ++i) {
        if (i > 0) {
            if (at == end || *at != '.') {
                return std::nullopt;
            }
            ++at;
        }
        const auto [next, error] = std::from_chars(at, end, version[i]);
        if (error != std::errc{}) {
            return std::nullopt;
        }
        at = next;
    }
    if (at != end) {
        return std::nullopt;
    }
    return version;
}

std::string BuiltInUpdateKey() {
    return CORVALE_RELEASE_UPDATE_KEY;
}

std::vector<TUpdatePublicKey> TrustedUpdateKeys(std::string_view extraKeys) {
    std::vector<TUpdatePublicKey> keys;
    std::string reason;
    if (auto key = ParseUpdatePublicKey(BuiltInUpdateKey(), reason)) {
        keys.push_back(*key);
    }
    static constexpr std::string_view Separators = ", \t";
    std::size_t at = 0;
    while ((at = extraKeys.find_first_not_of(Separators, at)) != std::string_view::npos) {
        const std::size_t stop =
            std::min(extraKeys.find_first_of(Separators, at), extraKeys.size());
        if (auto key = ParseUpdatePublicKey(extraKeys.substr(at, stop - at), reason)) {
            keys.push_back(*key);
        }
        at = stop;
    }
    return keys;
}

std::unique_ptr<TTaskRec> NewDlupdateTask(const TVersion& offered) {
    auto task = NewTask();
    task->Work = &dlupdate;
    task->Done = &TaskDoneNothing;
    task->Arg = StrNewCopy(VersionText(offered));
    return task;
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
    if (!SelfUpdate.load()) {
        WindowOps().ShowMessage(PackageManagerText(offered), kUpdatesCaption, TMsgButtons::OK);
        return;
    }
    if (Ask(NewVersionQuestion(offered)) != TMsgAnswer::Yes) {
        return;
    }
    if (Ask(kAskAutomaticUpdate) == TMsgAnswer::Yes) {
        StartTask(NewDlupdateTask(offered));
    } else {
        WindowOps().OpenUrl(WebPageUrl(kHomePagePath));
    }
}

void dlupdate(TTaskRec& task) {
    const std::optional<TVersion> offered = ParseVersionText(TakeTextArg(task));
    if (!SelfUpdate.load()) {
        return; // the package manager's copy never replaces itself
    }
    const std::string package = UpdatePackagePath();
    platform::RemoveFile(package); // a missing file is no error
    // The temporary folder may be shared with other users, who must not be able to swap the
    // package we are about to run.
    if (!platform::MakePrivateFolder(UpdateFolder())) {
        ShowUpdateFailed();
        return;
    }

    const TServiceEndpoint endpoint = ServiceEndpoint();
    // The signature first, into memory (a reply's size limit holds it): a package is only
    // fetched for a signature that can be checked.
    const TFetchResult signatureReply = Fetch({.Url = ServiceRequestUrl("dlupdatesig"),
                                               .Port = endpoint.Port,
                                               .AuthorityFile = endpoint.AuthorityFile});
    if (!signatureReply.RequestSent) {
        return; // no connection: nothing to say, as for the package
    }
    std::string reason;
    const std::optional<TUpdateSignature> signature =
        OfferedSignature(signatureReply.Ok ? signatureReply.Body : TMemoryBlock{}, offered, reason);
    if (!signature) {
        ShowNotVerified(reason);
        return;
    }

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
    // Verified as written, in the folder only we can write to, so what runs is what was
    // checked.
    if (!PackageVerifies(package, *signature, endpoint.UpdateKeys, reason)) {
        platform::RemoveFile(package);
        ShowNotVerified(reason);
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
