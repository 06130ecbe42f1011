#pragma once
// The program's pictures, drawn as scalable images so they stay sharp at every size.

#include <QIcon>

class TImageList;

namespace Icons {

QIcon Tray();          // the notification-area icon and the window icon
QIcon About();         // the About page's picture (48 x 48)
QIcon InviteWindow();  // the invite dialog's window icon (16 x 16)
QIcon InvitePicture(); // the invite dialog's picture (32 x 32)

// The main window's image list IL16, by index.
enum TIL16Image : int {
    YourIpTab = 0,
    CheckNow = 1,
    GetBuddy = 2,
    InviteBuddy = 3,
    RemoveBuddy = 4,
    ContactsTab = 5,
    OptionsTab = 6,
    Active = 7,
};
inline constexpr int kIL16Count = 8;
QIcon IL16(int index); // an empty icon outside 0 .. kIL16Count - 1
void FillIL16(TImageList& list);

} // namespace Icons
