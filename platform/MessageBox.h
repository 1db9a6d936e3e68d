#pragma once
#include <string>

#include "platform/Types.h"

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_BUTTONS_MASK = 0xF;
constexpr UINT MB_ICON_MASK = 0xF0;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Modal message box; returns the button pressed.
class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    virtual int Show(const std::string& text, const std::string& caption, UINT type) = 0;
};
