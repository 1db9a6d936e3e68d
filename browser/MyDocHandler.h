#pragma once
// The browser host object: attached to the page's document, it replaces the
// page's context menu with the application's popup menu and leaves every
// other question to the browser's defaults.
#include <atomic>
#include <cstdint>

#include "platform/DocHostUIHandler.h"

class TPopupMenu;

class MyDocHandler : public IDocHostUIHandler {
public:
    // The creator holds the first reference.
    MyDocHandler() = default;
    MyDocHandler(const MyDocHandler&) = delete;
    MyDocHandler& operator=(const MyDocHandler&) = delete;

    std::atomic<std::int32_t> RefCount{1};
    IDispatch* ExternalDispatch = nullptr;  // not owned
    TPopupMenu* PopupMenu = nullptr;         // not owned
    bool ShowDefaultMenu = true;

    HRESULT QueryInterface(const IID& riid, void** ppvObject) override;
    ULONG AddRef() override;
    // Frees the object when the count reaches 0.
    ULONG Release() override;

    HRESULT ShowContextMenu(DWORD dwID, const TPoint* ppt, void* cmdTarget, void* object) override;
    HRESULT GetHostInfo(DOCHOSTUIINFO* pInfo) override;
    HRESULT ShowUI(DWORD dwID, void* activeObject, void* commandTarget, void* frame, void* docWindow) override;
    HRESULT HideUI() override;
    HRESULT UpdateUI() override;
    HRESULT EnableModeless(bool enable) override;
    HRESULT OnDocWindowActivate(bool activate) override;
    HRESULT OnFrameWindowActivate(bool activate) override;
    HRESULT ResizeBorder(const TRect* border, void* uiWindow, bool frameWindow) override;
    HRESULT TranslateAccelerator(const TMessage* msg, const GUID* cmdGroup, DWORD cmdID) override;
    HRESULT GetOptionKeyPath(wchar_t** key, DWORD reserved) override;
    HRESULT GetDropTarget(void* dropTarget, void** ppDropTarget) override;
    HRESULT GetExternal(IDispatch** ppDispatch) override;
    HRESULT TranslateUrl(DWORD translate, const wchar_t* urlIn, wchar_t** ppUrlOut) override;
    HRESULT FilterDataObject(void* dataObject, void** ppDataObjectRet) override;

protected:
    ~MyDocHandler() override = default;
};
