#include "components/HotKey.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <map>

#include "components/Application.h"
#include "platform/VirtualKeys.h"

namespace {
// Keys whose virtual-key codes do not follow from the character.
const std::map<int, int>& QtToVk()
{
    static const std::map<int, int> m = {
        {Qt::Key_Backspace, 0x08}, {Qt::Key_Tab, 0x09}, {Qt::Key_Backtab, 0x09}, {Qt::Key_Clear, 0x0C},
        {Qt::Key_Return, 0x0D}, {Qt::Key_Enter, 0x0D}, {Qt::Key_Pause, 0x13}, {Qt::Key_CapsLock, 0x14},
        {Qt::Key_Escape, 0x1B}, {Qt::Key_Space, 0x20}, {Qt::Key_PageUp, 0x21}, {Qt::Key_PageDown, 0x22},
        {Qt::Key_End, 0x23}, {Qt::Key_Home, 0x24}, {Qt::Key_Left, 0x25}, {Qt::Key_Up, 0x26},
        {Qt::Key_Right, 0x27}, {Qt::Key_Down, 0x28}, {Qt::Key_Print, 0x2C}, {Qt::Key_Insert, 0x2D},
        {Qt::Key_Delete, 0x2E}, {Qt::Key_Help, 0x2F}, {Qt::Key_Menu, 0x5D}, {Qt::Key_NumLock, 0x90},
        {Qt::Key_ScrollLock, 0x91},
        // US-layout punctuation, unshifted and shifted.
        {Qt::Key_Semicolon, 0xBA}, {Qt::Key_Colon, 0xBA}, {Qt::Key_Equal, 0xBB}, {Qt::Key_Plus, 0xBB},
        {Qt::Key_Comma, 0xBC}, {Qt::Key_Less, 0xBC}, {Qt::Key_Minus, 0xBD}, {Qt::Key_Underscore, 0xBD},
        {Qt::Key_Period, 0xBE}, {Qt::Key_Greater, 0xBE}, {Qt::Key_Slash, 0xBF}, {Qt::Key_Question, 0xBF},
        {Qt::Key_QuoteLeft, 0xC0}, {Qt::Key_AsciiTilde, 0xC0}, {Qt::Key_BracketLeft, 0xDB},
        {Qt::Key_BraceLeft, 0xDB}, {Qt::Key_Backslash, 0xDC}, {Qt::Key_Bar, 0xDC},
        {Qt::Key_BracketRight, 0xDD}, {Qt::Key_BraceRight, 0xDD}, {Qt::Key_Apostrophe, 0xDE},
        {Qt::Key_QuoteDbl, 0xDE},
        // Shifted digits on a US layout.
        {Qt::Key_Exclam, '1'}, {Qt::Key_At, '2'}, {Qt::Key_NumberSign, '3'}, {Qt::Key_Dollar, '4'},
        {Qt::Key_Percent, '5'}, {Qt::Key_AsciiCircum, '6'}, {Qt::Key_Ampersand, '7'},
        {Qt::Key_Asterisk, '8'}, {Qt::Key_ParenLeft, '9'}, {Qt::Key_ParenRight, '0'},
    };
    return m;
}

const std::map<int, int>& VkToQt()
{
    static const std::map<int, int> m = [] {
        std::map<int, int> r;
        // The first (unshifted) key of each code wins.
        for (auto [qt, vk] : std::initializer_list<std::pair<int, int>>{
                 {Qt::Key_Backspace, 0x08}, {Qt::Key_Tab, 0x09}, {Qt::Key_Clear, 0x0C}, {Qt::Key_Return, 0x0D},
                 {Qt::Key_Pause, 0x13}, {Qt::Key_CapsLock, 0x14}, {Qt::Key_Escape, 0x1B}, {Qt::Key_Space, 0x20},
                 {Qt::Key_PageUp, 0x21}, {Qt::Key_PageDown, 0x22}, {Qt::Key_End, 0x23}, {Qt::Key_Home, 0x24},
                 {Qt::Key_Left, 0x25}, {Qt::Key_Up, 0x26}, {Qt::Key_Right, 0x27}, {Qt::Key_Down, 0x28},
                 {Qt::Key_Print, 0x2C}, {Qt::Key_Insert, 0x2D}, {Qt::Key_Delete, 0x2E}, {Qt::Key_Help, 0x2F},
                 {Qt::Key_Menu, 0x5D}, {Qt::Key_NumLock, 0x90}, {Qt::Key_ScrollLock, 0x91},
                 {Qt::Key_Semicolon, 0xBA}, {Qt::Key_Equal, 0xBB}, {Qt::Key_Comma, 0xBC}, {Qt::Key_Minus, 0xBD},
                 {Qt::Key_Period, 0xBE}, {Qt::Key_Slash, 0xBF}, {Qt::Key_QuoteLeft, 0xC0},
                 {Qt::Key_BracketLeft, 0xDB}, {Qt::Key_Backslash, 0xDC}, {Qt::Key_BracketRight, 0xDD},
                 {Qt::Key_Apostrophe, 0xDE}})
            r.emplace(vk, qt);
        return r;
    }();
    return m;
}
}  // namespace

int QtKeyToVirtualKey(int qtKey, bool keypad)
{
    if (keypad) {
        if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return 0x60 + (qtKey - Qt::Key_0);
        switch (qtKey) {
        case Qt::Key_Asterisk: return 0x6A;
        case Qt::Key_Plus: return 0x6B;
        case Qt::Key_Minus: return 0x6D;
        case Qt::Key_Period: case Qt::Key_Comma: return 0x6E;
        case Qt::Key_Slash: return 0x6F;
        default: break;
        }
    }
    if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)) return qtKey;
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return 0x70 + (qtKey - Qt::Key_F1);
    auto it = QtToVk().find(qtKey);
    return it == QtToVk().end() ? 0 : it->second;
}

int VirtualKeyToQtKey(int vk)
{
    if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9')) return vk;
    if (vk >= 0x60 && vk <= 0x69) return Qt::Key_0 + (vk - 0x60);
    switch (vk) {
    case 0x6A: return Qt::Key_Asterisk;
    case 0x6B: return Qt::Key_Plus;
    case 0x6D: return Qt::Key_Minus;
    case 0x6E: return Qt::Key_Period;
    case 0x6F: return Qt::Key_Slash;
    default: break;
    }
    if (vk >= 0x70 && vk <= 0x87) return Qt::Key_F1 + (vk - 0x70);
    auto it = VkToQt().find(vk);
    return it == VkToQt().end() ? 0 : it->second;
}

std::string HotKeyText(std::uint16_t code)
{
    if (code == 0) return "None";
    std::string out;
    if (code & scCtrl) out += "Ctrl + ";
    if (code & scShift) out += "Shift + ";
    if (code & scAlt) out += "Alt + ";
    const int vk = code & 0xFF;
    if (const std::string label = KeyLabel(KeyboardMap::Current(), vk); !label.empty()) return out + label;
    const int qt = VirtualKeyToQtKey(vk);
    std::string name;
    if (vk >= 0x60 && vk <= 0x6F) name = "Num ";
    if (qt) name += QKeySequence(qt).toString(QKeySequence::NativeText).toStdString();
    if (qt == 0) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "#%d", vk);
        name = buf;
    }
    return out + name;
}

std::uint16_t NormalizeHotKey(std::uint16_t code)
{
    const std::uint16_t mods = code & (scShift | scCtrl | scAlt);
    if ((code & scKeyMask) == 0) return 0;
    if (mods == 0 || mods == scShift) return static_cast<std::uint16_t>((code & scKeyMask) | scAlt);
    return code;
}

THotKey::THotKey(QWidget* parent) : QLineEdit(parent)
{
    setReadOnly(false);
    ShowCode();
}

void THotKey::SetHotKey(std::uint16_t code)
{
    code_ = code;
    ShowCode();
}

void THotKey::ShowCode()
{
    Show(QString::fromStdString(HotKeyText(code_)), true);
}

namespace {
void Unheard(QAccessibleEvent*) {}
}  // namespace

void THotKey::Show(const QString& shown, bool announce)
{
    if (shown == text()) return;
    if (announce && shown != heard_) {
        setText(shown);
        heard_ = shown;
        return;
    }
    // The modifiers held on the way to a key, and the way back to the stored
    // key, are shown without a word.
    const QAccessible::UpdateHandler previous = QAccessible::installUpdateHandler(&Unheard);
    setText(shown);
    QAccessible::installUpdateHandler(previous);
}

void THotKey::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers m = event->modifiers();
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
        if (!(m & (Qt::ControlModifier | Qt::AltModifier))) {
            QLineEdit::keyPressEvent(event);  // let focus move on
            return;
        }
    }
    // Enter and Escape belong to the dialog (Enter presses its default
    // button), never to the hot key: passed on untouched.
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    std::string prefix;
    if (m & Qt::ControlModifier) prefix += "Ctrl + ";
    if (m & Qt::ShiftModifier) prefix += "Shift + ";
    if (m & Qt::AltModifier) prefix += "Alt + ";
    if (key == Qt::Key_Control || key == Qt::Key_Shift || key == Qt::Key_Alt || key == Qt::Key_Meta ||
        key == Qt::Key_AltGr || key == 0 || key == Qt::Key_unknown) {
        Show(QString::fromStdString(prefix.empty() ? HotKeyText(0) : prefix), false);
        return;
    }
    if (key == Qt::Key_Backspace || key == Qt::Key_Delete) {  // empties the field, whatever modifiers are held
        code_ = 0;
        ShowCode();
        Fire(OnChange, this);
        return;
    }
    // The key's code on the desktop's keymap; the toolkit's key, which
    // names what the key types, only where that keymap is not known.
    const KeyboardMap map = KeyboardMap::Current();
    int vk = 0;
    if (map && event->nativeScanCode()) {
        vk = static_cast<int>(VirtualKeyForKeycode(map, event->nativeScanCode()));
        if (vk == 0) {  // a key no code names: the field keeps its key
            QApplication::beep();
            return;
        }
    } else {
        vk = QtKeyToVirtualKey(key, m & Qt::KeypadModifier);
        if (vk == 0) return;
    }
    std::uint16_t code = static_cast<std::uint16_t>(vk);
    if (m & Qt::ShiftModifier) code |= scShift;
    if (m & Qt::ControlModifier) code |= scCtrl;
    if (m & Qt::AltModifier) code |= scAlt;
    code_ = NormalizeHotKey(code);
    ShowCode();
    Fire(OnChange, this);
}

void THotKey::keyReleaseEvent(QKeyEvent* event)
{
    // A released modifier without a key leaves the stored combination shown.
    (void)event;
    ShowCode();
}

void THotKey::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    ShowCode();
    Fire(OnExit, this);
}

void THotKey::showEvent(QShowEvent* event)
{
    QLineEdit::showEvent(event);
    ShowCode();  // the layout may have changed since
}

void THotKey::contextMenuEvent(QContextMenuEvent* event)
{
    event->accept();  // no editing menu: the field holds a key, not text
}
