#include "platform/VirtualKeys.h"

#include <QString>

#include <xkbcommon/xkbcommon.h>

#include "platform/KeyboardLayout.h"

namespace {
IKeyboardLayout* g_layout = nullptr;

bool IsLetter(unsigned vk) { return vk >= 'A' && vk <= 'Z'; }

// The symbols of a key at one level of the active layout (a key with fewer
// layouts wraps, as XKB does by default).
xkb_keysym_t SymAt(const KeyboardMap& map, xkb_keycode_t key, xkb_level_index_t level)
{
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(map.keymap, key);
    if (layouts == 0) return XKB_KEY_NoSymbol;
    const xkb_keysym_t* syms = nullptr;
    if (xkb_keymap_key_get_syms_by_level(map.keymap, key, map.layout % layouts, level, &syms) < 1)
        return XKB_KEY_NoSymbol;
    return syms[0];
}

xkb_level_index_t Levels(const KeyboardMap& map, xkb_keycode_t key)
{
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(map.keymap, key);
    return layouts ? xkb_keymap_num_levels_for_key(map.keymap, key, map.layout % layouts) : 0;
}

// A code that names a symbol (not a letter, digit or position) for a keysym; 0 when none does.
unsigned SymbolVirtualKey(xkb_keysym_t sym)
{
    if (sym == XKB_KEY_NoSymbol) return 0;
    for (unsigned vk = 1; vk < 0xFF; ++vk)
        if (!IsLetter(vk) && !VirtualKeyToKeyName(vk) && VirtualKeyToKeysym(vk) == sym) return vk;
    return 0;
}

// The first key with the symbol at its first level, else at any level.
xkb_keycode_t KeyWithSymbol(const KeyboardMap& map, xkb_keysym_t sym)
{
    const xkb_keycode_t min = xkb_keymap_min_keycode(map.keymap), max = xkb_keymap_max_keycode(map.keymap);
    for (bool anyLevel : {false, true})
        for (xkb_keycode_t key = min; key <= max; ++key)
            for (xkb_level_index_t level = 0, n = anyLevel ? Levels(map, key) : 1; level < n; ++level)
                if (SymAt(map, key, level) == sym) return key;
    return 0;
}

// The character a dead key puts on its own.
char32_t DeadKeyCharacter(xkb_keysym_t sym)
{
    switch (sym) {
    case XKB_KEY_dead_grave: return U'`';
    case XKB_KEY_dead_acute: return U'´';
    case XKB_KEY_dead_circumflex: return U'^';
    case XKB_KEY_dead_tilde: return U'~';
    case XKB_KEY_dead_macron: return U'¯';
    case XKB_KEY_dead_breve: return U'˘';
    case XKB_KEY_dead_abovedot: return U'˙';
    case XKB_KEY_dead_diaeresis: return U'¨';
    case XKB_KEY_dead_abovering: return U'°';
    case XKB_KEY_dead_doubleacute: return U'˝';
    case XKB_KEY_dead_caron: return U'ˇ';
    case XKB_KEY_dead_cedilla: return U'¸';
    case XKB_KEY_dead_ogonek: return U'˛';
    default: return 0;
    }
}

}  // namespace

IKeyboardLayout* CurrentKeyboardLayout()
{
    return g_layout;
}

void SetCurrentKeyboardLayout(IKeyboardLayout* layout)
{
    g_layout = layout;
}

KeyboardMap KeyboardMap::Current()
{
    if (!g_layout) return {};
    return KeyboardMap{g_layout->Keymap(), g_layout->Layout()};
}

const char* VirtualKeyToKeyName(unsigned vk)
{
    // Windows names these keys by where they sit on a US keyboard.
    static const char* const digits[] = {"AE10", "AE01", "AE02", "AE03", "AE04", "AE05", "AE06", "AE07", "AE08", "AE09"};
    if (vk >= '0' && vk <= '9') return digits[vk - '0'];
    switch (vk) {
    case 0xBA: return "AC10";  // VK_OEM_1: ;:
    case 0xBB: return "AE12";  // VK_OEM_PLUS: =+
    case 0xBC: return "AB08";  // VK_OEM_COMMA
    case 0xBD: return "AE11";  // VK_OEM_MINUS
    case 0xBE: return "AB09";  // VK_OEM_PERIOD
    case 0xBF: return "AB10";  // VK_OEM_2: /?
    case 0xC0: return "TLDE";  // VK_OEM_3: the key left of 1
    case 0xDB: return "AD11";  // VK_OEM_4: [{
    case 0xDC: return "BKSL";  // VK_OEM_5: \|
    case 0xDD: return "AD12";  // VK_OEM_6: ]}
    case 0xDE: return "AC11";  // VK_OEM_7: '"
    case 0xE2: return "LSGT";  // VK_OEM_102: the extra key beside left Shift
    default: return nullptr;
    }
}

unsigned long VirtualKeyToKeysym(unsigned vk)
{
    if (IsLetter(vk)) return XKB_KEY_a + (vk - 'A');
    if (vk >= '0' && vk <= '9') return XKB_KEY_0 + (vk - '0');
    if (vk >= 0x60 && vk <= 0x69) return XKB_KEY_KP_0 + (vk - 0x60);
    if (vk >= 0x70 && vk <= 0x87) return XKB_KEY_F1 + (vk - 0x70);
    switch (vk) {
    case 0x08: return XKB_KEY_BackSpace;
    case 0x09: return XKB_KEY_Tab;
    case 0x0D: return XKB_KEY_Return;
    case 0x13: return XKB_KEY_Pause;
    case 0x14: return XKB_KEY_Caps_Lock;
    case 0x1B: return XKB_KEY_Escape;
    case 0x20: return XKB_KEY_space;
    case 0x21: return XKB_KEY_Prior;
    case 0x22: return XKB_KEY_Next;
    case 0x23: return XKB_KEY_End;
    case 0x24: return XKB_KEY_Home;
    case 0x25: return XKB_KEY_Left;
    case 0x26: return XKB_KEY_Up;
    case 0x27: return XKB_KEY_Right;
    case 0x28: return XKB_KEY_Down;
    case 0x2C: return XKB_KEY_Print;
    case 0x2D: return XKB_KEY_Insert;
    case 0x2E: return XKB_KEY_Delete;
    case 0x5D: return XKB_KEY_Menu;
    case 0x6A: return XKB_KEY_KP_Multiply;
    case 0x6B: return XKB_KEY_KP_Add;
    case 0x6D: return XKB_KEY_KP_Subtract;
    case 0x6E: return XKB_KEY_KP_Decimal;
    case 0x6F: return XKB_KEY_KP_Divide;
    case 0x90: return XKB_KEY_Num_Lock;
    case 0x91: return XKB_KEY_Scroll_Lock;
    case 0xBA: return XKB_KEY_semicolon;
    case 0xBB: return XKB_KEY_equal;
    case 0xBC: return XKB_KEY_comma;
    case 0xBD: return XKB_KEY_minus;
    case 0xBE: return XKB_KEY_period;
    case 0xBF: return XKB_KEY_slash;
    case 0xC0: return XKB_KEY_grave;
    case 0xDB: return XKB_KEY_bracketleft;
    case 0xDC: return XKB_KEY_backslash;
    case 0xDD: return XKB_KEY_bracketright;
    case 0xDE: return XKB_KEY_apostrophe;
    case 0xE2: return XKB_KEY_less;
    default: return 0;
    }
}

unsigned KeycodeForVirtualKey(const KeyboardMap& map, unsigned vk)
{
    if (!map) return 0;
    if (const char* name = VirtualKeyToKeyName(vk)) {
        const xkb_keycode_t key = xkb_keymap_key_by_name(map.keymap, name);
        return key != XKB_KEYCODE_INVALID && SymAt(map, key, 0) != XKB_KEY_NoSymbol ? key : 0;
    }
    const unsigned long sym = VirtualKeyToKeysym(vk);
    if (!sym) return 0;
    if (IsLetter(vk)) {
        // The key that types the letter, whatever its case: on the active
        // layout where it has the letter, else on the first layout that has
        // it, so that a letter works on a Cyrillic, Greek or Hebrew layout
        // too, as desktops' own shortcuts do.
        const xkb_keycode_t min = xkb_keymap_min_keycode(map.keymap), max = xkb_keymap_max_keycode(map.keymap);
        const xkb_layout_index_t layouts = xkb_keymap_num_layouts(map.keymap);
        for (xkb_layout_index_t i = 0; i <= layouts; ++i) {
            if (i > 0 && i - 1 == map.layout) continue;
            const KeyboardMap in{map.keymap, i == 0 ? map.layout : i - 1};
            for (xkb_keycode_t key = min; key <= max; ++key)
                if (xkb_keysym_to_lower(SymAt(in, key, 0)) == sym) return key;
        }
        return 0;
    }
    return KeyWithSymbol(map, static_cast<xkb_keysym_t>(sym));
}

unsigned VirtualKeyForKeycode(const KeyboardMap& map, unsigned keycode)
{
    if (!map || !xkb_keymap_key_get_name(map.keymap, keycode)) return 0;
    const auto letter = [&](unsigned layout) -> unsigned {
        const xkb_keysym_t first = xkb_keysym_to_lower(SymAt({map.keymap, layout}, keycode, 0));
        return first >= XKB_KEY_a && first <= XKB_KEY_z ? 'A' + (first - XKB_KEY_a) : 0;
    };
    if (const unsigned vk = letter(map.layout)) return vk;
    const std::string name = xkb_keymap_key_get_name(map.keymap, keycode);
    for (unsigned vk = '0'; vk < 0xFF; ++vk)
        if (const char* position = VirtualKeyToKeyName(vk); position && name == position) return vk;
    // Keypad keys type their digit on the second level.
    for (xkb_level_index_t level = 0, n = Levels(map, keycode); level < n; ++level)
        if (const unsigned vk = SymbolVirtualKey(SymAt(map, keycode, level))) return vk;
    // A letter of another script: the Latin letter another layout has there,
    // if the letter's own key is this one (the round trip holds).
    for (xkb_layout_index_t i = 0, n = xkb_keymap_num_layouts(map.keymap); i < n; ++i)
        if (const unsigned vk = letter(i); vk && KeycodeForVirtualKey(map, vk) == keycode) return vk;
    return 0;
}

std::string KeyLabel(const KeyboardMap& map, unsigned vk)
{
    if (!IsLetter(vk) && !VirtualKeyToKeyName(vk)) return {};
    const unsigned key = KeycodeForVirtualKey(map, vk);
    if (!key) return {};
    if (IsLetter(vk)) return std::string(1, static_cast<char>(vk));  // its Latin label on every layout
    const xkb_keysym_t sym = SymAt(map, key, 0);
    char32_t c = DeadKeyCharacter(sym);
    if (!c) c = xkb_keysym_to_utf32(xkb_keysym_to_upper(sym));
    return c > U' ' && c != 0x7F ? QString::fromUcs4(&c, 1).toStdString() : std::string();
}

std::string KeysymName(const KeyboardMap& map, unsigned vk)
{
    xkb_keysym_t sym = static_cast<xkb_keysym_t>(VirtualKeyToKeysym(vk));
    if (map && IsLetter(vk)) {
        // Desktops match their shortcuts' letters on every layout.
        if (!KeycodeForVirtualKey(map, vk)) sym = XKB_KEY_NoSymbol;
    } else if (map && VirtualKeyToKeyName(vk)) {
        const unsigned key = KeycodeForVirtualKey(map, vk);
        sym = key ? SymAt(map, key, 0) : XKB_KEY_NoSymbol;
    }
    char name[64] = {};
    if (sym == XKB_KEY_NoSymbol || xkb_keysym_get_name(sym, name, sizeof name) <= 0) return {};
    return name;
}
