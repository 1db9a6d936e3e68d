#pragma once
// System-wide hot keys on X11: a key grab on the root window for every
// registration, matched in the toolkit's event stream. Keys are found by
// their position on the current layout where Windows names a position, and
// grabbed again when the layout changes.
#include <QAbstractNativeEventFilter>
#include <vector>

#include "platform/HotKeys.h"
#include "platform/MessageWindows.h"

class QTimer;

// The X keysym for a Windows virtual-key code (0 when unknown).
unsigned long VirtualKeyToKeysym(unsigned vk);
// The XKB key name ("TLDE", "AE01", ...) of the position a virtual-key code
// stands for, or nullptr where the code names a symbol rather than a position.
const char* VirtualKeyToKeyName(unsigned vk);

class X11HotKeys : public IHotKeys, public QAbstractNativeEventFilter {
public:
    explicit X11HotKeys(IMessageWindows& windows);
    ~X11HotKeys() override;
    bool RegisterHotKey(HWND wnd, int id, UINT modifiers, UINT virtualKey) override;
    bool UnregisterHotKey(HWND wnd, int id) override;
    HotKeyFailure LastFailure() const override { return lastFailure_; }
    std::string Describe() const override;
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    struct Registration {
        HWND wnd;
        int id;
        UINT modifiers;
        UINT virtualKey;
        unsigned keycode;  // 0 while the layout lacks the key
        unsigned mods;     // X modifier mask
    };
    HotKeyFailure Grab(unsigned keycode, unsigned mods);
    void Ungrab(unsigned keycode, unsigned mods);
    bool GrabbedByUs(unsigned keycode, unsigned mods) const;
    void Regrab();
    IMessageWindows& windows_;
    std::vector<Registration> registrations_;
    HotKeyFailure lastFailure_ = HotKeyFailure::None;
    QTimer* layoutChanged_ = nullptr;
    unsigned xkbEventBase_ = 0;
};
