#pragma once
// The document host interface through which an embedded browser asks its
// host how to present its user interface, with the few object-model basics
// it needs: interface identifiers, reference counting and result codes.
#include <cstdint>
#include <cstring>

#include "platform/Types.h"

using ULONG = std::uint32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
    bool operator==(const GUID& o) const
    {
        return Data1 == o.Data1 && Data2 == o.Data2 && Data3 == o.Data3 &&
               std::memcmp(Data4, o.Data4, sizeof Data4) == 0;
    }
};
using IID = GUID;

// {00000000-0000-0000-C000-000000000046}
constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {BD3F23C0-D43E-11CF-893B-00AA00BDCE1A}
constexpr IID IID_IDocHostUIHandler = {0xBD3F23C0, 0xD43E, 0x11CF, {0x89, 0x3B, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x1A}};
// {3050F3F0-98B5-11CF-BB82-00AA00BDCE0B}
constexpr IID IID_ICustomDoc = {0x3050F3F0, 0x98B5, 0x11CF, {0xBB, 0x82, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x0B}};

// Kinds of context menu the browser asks for (first argument of ShowContextMenu).
constexpr DWORD CONTEXT_MENU_DEFAULT = 0;
constexpr DWORD CONTEXT_MENU_IMAGE = 1;
constexpr DWORD CONTEXT_MENU_CONTROL = 2;
constexpr DWORD CONTEXT_MENU_TABLE = 3;
constexpr DWORD CONTEXT_MENU_TEXTSELECT = 4;
constexpr DWORD CONTEXT_MENU_ANCHOR = 5;
constexpr DWORD CONTEXT_MENU_UNKNOWN = 6;

// A reference-counted object; it frees itself when its last reference goes,
// so it is never deleted directly.
class IUnknown {
public:
    virtual HRESULT QueryInterface(const IID& riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

// An automation object (the page's "external" object).
class IDispatch : public IUnknown {};

struct DOCHOSTUIINFO {
    ULONG cbSize = sizeof(DOCHOSTUIINFO);
    DWORD dwFlags = 0;
    DWORD dwDoubleClick = 0;
};

struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// The host's answers to the browser; E_NOTIMPL means "use your default".
class IDocHostUIHandler : public IUnknown {
public:
    // ppt: the click's screen point. S_OK: the host handled it, the browser
    // shows no menu of its own; E_NOTIMPL: the browser shows its menu.
    virtual HRESULT ShowContextMenu(DWORD dwID, const TPoint* ppt, void* cmdTarget, void* object) = 0;
    virtual HRESULT GetHostInfo(DOCHOSTUIINFO* pInfo) = 0;
    virtual HRESULT ShowUI(DWORD dwID, void* activeObject, void* commandTarget, void* frame, void* docWindow) = 0;
    virtual HRESULT HideUI() = 0;
    virtual HRESULT UpdateUI() = 0;
    virtual HRESULT EnableModeless(bool enable) = 0;
    virtual HRESULT OnDocWindowActivate(bool activate) = 0;
    virtual HRESULT OnFrameWindowActivate(bool activate) = 0;
    virtual HRESULT ResizeBorder(const TRect* border, void* uiWindow, bool frameWindow) = 0;
    virtual HRESULT TranslateAccelerator(const TMessage* msg, const GUID* cmdGroup, DWORD cmdID) = 0;
    virtual HRESULT GetOptionKeyPath(wchar_t** key, DWORD reserved) = 0;
    virtual HRESULT GetDropTarget(void* dropTarget, void** ppDropTarget) = 0;
    virtual HRESULT GetExternal(IDispatch** ppDispatch) = 0;
    virtual HRESULT TranslateUrl(DWORD translate, const wchar_t* urlIn, wchar_t** ppUrlOut) = 0;
    virtual HRESULT FilterDataObject(void* dataObject, void** ppDataObjectRet) = 0;
};
