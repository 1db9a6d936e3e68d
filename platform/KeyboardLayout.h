#pragma once
// The keyboard layout in force on the desktop, as an XKB keymap: which key
// sits where and what it types. Hot keys are stored as Windows virtual-key
// codes; the keymap turns them into keys and back (platform/VirtualKeys.h).
#include <functional>
#include <string>

struct xkb_keymap;

class IKeyboardLayout {
public:
    virtual ~IKeyboardLayout() = default;
    // The keymap in force; null while the desktop has not given one.
    virtual xkb_keymap* Keymap() const = 0;
    // Which of the keymap's layouts is active.
    virtual unsigned Layout() const = 0;
    // Where the keymap comes from, for the user.
    virtual std::string Describe() const = 0;
    // Raised after the keymap or the active layout changed.
    std::function<void()> OnChanged;
};

// The keyboard layout in force (null: the platform cannot tell).
IKeyboardLayout* CurrentKeyboardLayout();
void SetCurrentKeyboardLayout(IKeyboardLayout* layout);
