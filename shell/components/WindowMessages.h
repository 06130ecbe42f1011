#pragma once
// Every window-message number the shell uses, in one place: the system's, the main window's
// own, the two that other programs send, and the tray icon's. The registered message has no
// fixed number; the system gives it one at run time (RegisteredMessage in fMain.h).

#include <cstdint>

// The system asks whether the session may end.
inline constexpr std::uint32_t WM_QUERYENDSESSION = 0x11;

// The main window's own messages.
inline constexpr std::uint32_t WM_HIDE_AT_START = 0x401;
inline constexpr std::uint32_t WM_QUIT_FOR_UPDATE = 0x402; // posted by the update hand-over

// The messages other programs may send to the main window.
inline constexpr std::uint32_t WM_COMPANION_UNLOAD = 0x7E8;
inline constexpr std::uint32_t WM_QUERY_ID_LENGTH = 0x7E9;

// The message that the shell sends to the tray window for the icon; its lParam is one of the
// mouse messages below.
inline constexpr std::uint32_t kTrayCallbackMessage = 0x800;

// The mouse messages of the tray icon, as the shell reports them.
namespace TrayMessage {
inline constexpr std::uint32_t MouseMove = 0x200;
inline constexpr std::uint32_t LButtonDown = 0x201;
inline constexpr std::uint32_t LButtonUp = 0x202;
inline constexpr std::uint32_t LButtonDblClk = 0x203;
inline constexpr std::uint32_t RButtonDown = 0x204;
inline constexpr std::uint32_t RButtonUp = 0x205;
inline constexpr std::uint32_t RButtonDblClk = 0x206;
inline constexpr std::uint32_t MButtonDown = 0x207;
inline constexpr std::uint32_t MButtonUp = 0x208;
inline constexpr std::uint32_t MButtonDblClk = 0x209;
} // namespace TrayMessage
