#pragma once
#include <string>

#include "platform/Types.h"

constexpr UINT MOD_ALT = 0x1;
constexpr UINT MOD_CONTROL = 0x2;
constexpr UINT MOD_SHIFT = 0x4;

// Why a registration failed. Only Taken means the combination itself was
// refused; the others say nothing against the key the user chose.
enum class HotKeyFailure {
    None,
    Taken,        // another program holds the combination, or the desktop bound it to no key
    Held,         // the desktop took the shortcut but keeps the key for itself or another program
    Unavailable,  // the desktop offers no way to grab a key
    KeyMissing,   // the current keyboard layout has no such key
    Dismissed,    // the user dismissed the desktop's question about the key
    Failed,       // the desktop's service reported an error or gave no answer
};

// Posted to a registration's window when the desktop can no longer deliver
// its combination, e.g. after a switch to a layout without the key or one
// the desktop would not bind again (WParam: the id, LParam: the
// HotKeyFailure). The registration stays and follows the next layout change.
constexpr UINT WM_HOTKEY_LOST = WM_APP + 0x100;

// System-wide hot keys. A registered combination posts WM_HOTKEY with the
// id as WParam to the window, whichever program is active.
class IHotKeys {
public:
    virtual ~IHotKeys() = default;
    virtual bool RegisterHotKey(HWND wnd, int id, UINT modifiers, UINT virtualKey) = 0;
    virtual bool UnregisterHotKey(HWND wnd, int id) = 0;
    // Why the last RegisterHotKey returned false.
    virtual HotKeyFailure LastFailure() const { return HotKeyFailure::Taken; }
    // How combinations are grabbed, for the user; empty when unnamed.
    virtual std::string Describe() const { return {}; }
    // The settings file whose hot keys these are: a desktop that keeps
    // shortcuts keeps them under a name of this file's, the same at every start.
    virtual void SetSettingsFile(const std::string& path) { (void)path; }
};
