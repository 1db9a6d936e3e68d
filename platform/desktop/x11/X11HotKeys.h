#pragma once
// System-wide hot keys on X11: a key grab on the root window for every
// registration, matched in the toolkit's event stream. Keys are found on the
// X server's keymap (platform/VirtualKeys.h) and grabbed again when the
// layout changes.
#include <QAbstractNativeEventFilter>
#include <cstdint>
#include <map>
#include <vector>

#include "platform/HotKeys.h"
#include "platform/MessageWindows.h"

class IKeyboardLayout;

class X11HotKeys : public IHotKeys, public QAbstractNativeEventFilter {
public:
    X11HotKeys(IMessageWindows& windows, IKeyboardLayout& keyboard);
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
    unsigned KeycodeFor(unsigned vk) const;
    // Whether a press of a grabbed key is the key held down (auto-repeat):
    // one hold is one press.
    bool Repeated(unsigned keycode, std::uint32_t time);
    IMessageWindows& windows_;
    IKeyboardLayout& keyboard_;
    std::vector<Registration> registrations_;
    HotKeyFailure lastFailure_ = HotKeyFailure::None;
    struct Held {
        std::uint32_t time;  // of the last press or repeat
        bool down;
    };
    std::map<unsigned, Held> held_;  // grabbed keys pressed, and released ones by release time
};
