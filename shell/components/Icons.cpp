#include "shell/components/Icons.h"

#include "shell/components/ImageList.h"

#include <array>

// The resources live in a static library, whose registration the linker would drop unless
// something refers to it.
static void EnsureIconResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    (void)registered;
}

namespace Icons {

namespace {

QIcon Load(const char* name) {
    EnsureIconResources();
    return QIcon(QStringLiteral(":/icons/") + QString::fromLatin1(name));
}

} // namespace

QIcon Tray() {
    return Load("tray.svg");
}
QIcon About() {
    return Load("about.svg");
}
QIcon InviteWindow() {
    return Load("invite_window.svg");
}
QIcon InvitePicture() {
    return Load("invite_picture.svg");
}

QIcon IL16(int index) {
    static constexpr std::array<const char*, kIL16Count> kFiles = {
        "il16_your_ip.svg",      "il16_check_now.svg",    "il16_get_buddy.svg",
        "il16_invite_buddy.svg", "il16_remove_buddy.svg", "il16_contacts.svg",
        "il16_options.svg",      "il16_active.svg",
    };
    if (index < 0 || index >= kIL16Count) {
        return {};
    }
    return Load(kFiles[static_cast<std::size_t>(index)]);
}

void FillIL16(TImageList& list) {
    list.Clear();
    for (int i = 0; i < kIL16Count; ++i) {
        list.Add(IL16(i));
    }
}

} // namespace Icons
