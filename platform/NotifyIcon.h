#pragma once
#include <functional>
#include <QIcon>
#include <cstdint>
#include <string>

#include "platform/Types.h"

class QMenu;
class QWidget;

constexpr DWORD NIM_ADD = 0;
constexpr DWORD NIM_MODIFY = 1;
constexpr DWORD NIM_DELETE = 2;
constexpr DWORD NIM_SETFOCUS = 3;
constexpr DWORD NIM_SETVERSION = 4;

constexpr UINT NIF_MESSAGE = 0x01;
constexpr UINT NIF_ICON = 0x02;
constexpr UINT NIF_TIP = 0x04;
constexpr UINT NIF_INFO = 0x10;

constexpr DWORD NIIF_NONE = 0;
constexpr DWORD NIIF_INFO = 1;
constexpr DWORD NIIF_WARNING = 2;
constexpr DWORD NIIF_ERROR = 3;
constexpr DWORD NIIF_USER = 4;

// Notices that arrive as the callback's LParam besides mouse messages.
constexpr UINT NIN_BALLOONSHOW = WM_USER + 2;
constexpr UINT NIN_BALLOONHIDE = WM_USER + 3;
constexpr UINT NIN_BALLOONTIMEOUT = WM_USER + 4;
constexpr UINT NIN_BALLOONUSERCLICK = WM_USER + 5;
// Sent besides the mouse messages to icons set to NOTIFYICON_VERSION:
// NIN_SELECT after a left click, WM_CONTEXTMENU after a right click.
constexpr UINT NIN_SELECT = WM_USER + 0;
constexpr UINT NIN_KEYSELECT = WM_USER + 1;
constexpr UINT WM_CONTEXTMENU = 0x007B;
constexpr UINT NOTIFYICON_VERSION = 3;

// The notify icon record: one per icon, passed whole on every call.
struct NotifyIconData {
    HWND hWnd = 0;
    UINT uID = 0;
    UINT uFlags = 0;
    UINT uCallbackMessage = 0;
    QIcon hIcon;
    char szTip[128] = {};
    char szInfo[256] = {};
    // Balloon time-out in ms for NIF_INFO; the version for NIM_SETVERSION.
    union {
        UINT uTimeout = 0;
        UINT uVersion;
    };
    char szInfoTitle[64] = {};
    DWORD dwInfoFlags = 0;
    // Wide balloon texts (UTF-16); when szInfoW is not empty they take the
    // place of szInfo and szInfoTitle.
    char16_t szInfoW[256] = {};
    char16_t szInfoTitleW[64] = {};
    // The icon's menu, for tray hosts that show it themselves
    // (StatusNotifierItem); the shell's record has no such field.
    QMenu* menu = nullptr;
};

// The notification area. Mouse actions on an icon are posted to its window
// as uCallbackMessage with WParam = uID and LParam = the mouse message
// (WM_LBUTTONDOWN, ...) or a balloon notice (NIN_BALLOON...).
// When the tray host (re)appears, the message registered as
// "TaskbarCreated" is broadcast to every message window.
class INotifyIcons {
public:
    virtual ~INotifyIcons() = default;
    virtual bool ShellNotifyIcon(DWORD message, const NotifyIconData& data) = 0;
    // Whether a tray host shows the icons now, followed while the program
    // runs. Without one an icon is kept all the same but nobody sees it;
    // balloons still reach the desktop's notification service.
    virtual bool HostPresent() { return true; }
    // The tray host came or went.
    std::function<void(bool present)> OnHostChanged;
};

// Cursor, keyboard state, double-click time and the foreground window.
class IDesktopInput {
public:
    virtual ~IDesktopInput() = default;
    virtual TPoint GetCursorPos() = 0;
    virtual bool ShiftDown() = 0;
    virtual bool CtrlDown() = 0;
    virtual bool AltDown() = 0;
    virtual UINT GetDoubleClickTime() = 0;
    // Brings the window's top-level window to the front and gives it the focus.
    virtual bool SetForegroundWindow(QWidget* window) = 0;
};
