#pragma once
// System-wide hot keys on X11: a key grab on the root window for every
// registration, matched in the toolkit's event stream.
#include <QAbstractNativeEventFilter>
#include <map>
#include <set>
#include <vector>

#include "platform/HotKeys.h"
#include "platform/MessageWindows.h"

// The X keysym for a Windows virtual-key code (0 when unknown).
unsigned long VirtualKeyToKeysym(unsigned vk);

class X11HotKeys : public IHotKeys, public QAbstractNativeEventFilter {
public:
    explicit X11HotKeys(IMessageWindows& windows);
    ~X11HotKeys() override;
    bool RegisterHotKey(HWND wnd, int id, UINT modifiers, UINT virtualKey) override;
    bool UnregisterHotKey(HWND wnd, int id) override;
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    struct Grab {
        unsigned keycode;
        unsigned mods;  // X modifier mask
        bool operator<(const Grab& o) const { return keycode != o.keycode ? keycode < o.keycode : mods < o.mods; }
    };
    struct Owner {
        HWND wnd;
        int id;
    };
    bool GrabKey(const Grab& g);
    void UngrabKey(const Grab& g);
    IMessageWindows& windows_;
    std::map<Grab, Owner> grabs_;
};
