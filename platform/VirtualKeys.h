#pragma once
// Windows virtual-key codes on XKB keymaps. Letters, function, editing and
// keypad keys are named by the symbol they type, as Windows names them;
// digits and punctuation keys by where they sit on a US keyboard, so that a
// code stored on one layout means the same key on every other.
#include <string>

struct xkb_keymap;

// The XKB key name ("TLDE", "AE01", ...) of the position a virtual-key code
// stands for, or nullptr where the code names a symbol rather than a position.
const char* VirtualKeyToKeyName(unsigned vk);
// The X keysym a virtual-key code names (0 when unknown); for a position,
// what a US keyboard has there.
unsigned long VirtualKeyToKeysym(unsigned vk);

// A keymap with its active layout; empty when the desktop's keymap is not known.
struct KeyboardMap {
    xkb_keymap* keymap = nullptr;
    unsigned layout = 0;
    // The keyboard layout in force.
    static KeyboardMap Current();
    explicit operator bool() const { return keymap != nullptr; }
};

// The key (XKB keycode, the same as the X11 and Wayland key codes) a code
// stands for on the layout; 0 when the layout has no such key. A letter is
// the key that types it on the active layout, else on any of the keymap's
// layouts (a Latin letter on a Cyrillic layout).
unsigned KeycodeForVirtualKey(const KeyboardMap& map, unsigned vk);
// The code for a pressed key: its letter, its position or its symbol; 0 for
// a key that no code names (e.g. a punctuation key where a US keyboard has a letter).
unsigned VirtualKeyForKeycode(const KeyboardMap& map, unsigned keycode);
// How the layout labels the key of a letter or position code ("Ö", "&", "^");
// a letter by its Latin capital on every layout; empty for other codes and
// for keys the layout lacks.
std::string KeyLabel(const KeyboardMap& map, unsigned vk);
// The keysym name the layout has for the code's key ("plus", "dead_circumflex",
// "a", "F5"); empty when the layout lacks the key. Without a keymap, the names
// of a US keyboard.
std::string KeysymName(const KeyboardMap& map, unsigned vk);
