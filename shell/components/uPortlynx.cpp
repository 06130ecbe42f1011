#include "shell/components/uPortlynx.h"

#include "platform/Module.h"
#include "platform/System.h"
#include "shell/components/MessageBox.h"

#include <QWidget>
#include <filesystem>
#include <system_error>

namespace {

struct TCompanionLink {
    std::string Path;
    platform::ModuleHandle Module = nullptr;
    TCompanionSetValue SetValue = nullptr;
};

TCompanionLink& Link() {
    static TCompanionLink link{platform::FolderOf(platform::ExecutablePath()) + "portlynx.dll"};
    return link;
}

void ShowCompanionError(const char* text) {
    ShowMessageBox(
        {QString::fromLatin1(text), QStringLiteral("Error"), TMsgIcon::Error, TMsgButtons::OK});
}

} // namespace

const std::string& CompanionPath() {
    return Link().Path;
}

void InitCompanionPathForTests(const std::string& programFolder) {
    Link().Path = programFolder + "portlynx.dll";
}

bool CompanionFileExists() {
    std::error_code error;
    const auto status = std::filesystem::status(Link().Path, error);
    return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

bool IsCompanionLoaded() {
    return Link().Module != nullptr;
}

void LoadCompanion(QWidget* mainWindow) {
    TCompanionLink& link = Link();
    if (!CompanionFileExists()) {
        ShowCompanionError("Portlynx is not installed.");
        return;
    }
    platform::ModuleHandle module = platform::LoadModule(link.Path);
    if (module == nullptr) {
        ShowCompanionError("Portlynx cannot be loaded.");
        return;
    }
    // A second load while loaded would leave the first reference for good; drop it, the
    // module stays mapped through the new one.
    if (link.Module != nullptr) {
        platform::FreeModule(link.Module);
    }
    link.Module = module;
    link.SetValue =
        reinterpret_cast<TCompanionSetValue>(platform::ModuleSymbol(module, "PLX_SET_CVL"));
    if (link.SetValue == nullptr) {
        return; // stays loaded, told nothing
    }
    const auto handle = mainWindow ? static_cast<std::uint32_t>(mainWindow->winId()) : 0u;
    link.SetValue("cvl_hwnd", handle);
}

void UnloadCompanion() {
    TCompanionLink& link = Link();
    if (link.Module != nullptr && platform::FreeModule(link.Module)) {
        link.Module = nullptr;
        link.SetValue = nullptr;
    }
}

bool ReleaseCompanion() {
    UnloadCompanion();
    return true;
}
