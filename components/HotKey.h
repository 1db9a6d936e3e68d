#pragma once
// Hot-key field holding a 16-bit code: virtual-key code in bits 0-12, Shift
// 0x2000, Ctrl 0x4000, Alt 0x8000; 0 is no hot key. The virtual-key codes are
// those the Windows program stores, so a stored code means the same key here.
// A pressed key is read from its key code on the desktop's keymap
// (platform/VirtualKeys.h), so the field stores the key pressed on any
// layout, and shows it as the current layout labels it; a letter by its
// Latin capital, also while a Cyrillic, Greek or Hebrew layout is active.
#include <QLineEdit>
#include <cstdint>
#include <functional>
#include <string>

constexpr std::uint16_t scShift = 0x2000;
constexpr std::uint16_t scCtrl = 0x4000;
constexpr std::uint16_t scAlt = 0x8000;
constexpr std::uint16_t scKeyMask = 0x1FFF;

// Virtual-key code of a toolkit key (0 when it has none), as on a US
// keyboard. keypad selects the numeric-keypad codes.
int QtKeyToVirtualKey(int qtKey, bool keypad);
// Toolkit key for a virtual-key code (0 when unknown).
int VirtualKeyToQtKey(int vk);
// "Ctrl + Alt + A", "Alt + Ö" on a German layout; "None" for 0.
std::string HotKeyText(std::uint16_t code);
// A combination without modifier or with Shift alone becomes Alt with the key.
std::uint16_t NormalizeHotKey(std::uint16_t code);

class THotKey : public QLineEdit {
public:
    explicit THotKey(QWidget* parent = nullptr);
    std::uint16_t HotKey() const { return code_; }
    // Set by the program: no OnChange.
    void SetHotKey(std::uint16_t code);

    std::function<void(THotKey*)> OnChange;  // the user entered a combination
    std::function<void(THotKey*)> OnExit;    // the focus left the field

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void ShowCode();
    // Shows text; a screen reader hears it only when announce is set and it
    // differs from what it heard last, so one key press is announced once.
    void Show(const QString& text, bool announce);
    QString heard_;
    std::uint16_t code_ = 0;
};
