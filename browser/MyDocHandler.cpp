#include "browser/MyDocHandler.h"

#include "components/Menus.h"

HRESULT MyDocHandler::QueryInterface(const IID& riid, void** ppvObject)
{
    if (!ppvObject) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDocHostUIHandler) {
        *ppvObject = static_cast<IDocHostUIHandler*>(this);
        AddRef();
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}

ULONG MyDocHandler::AddRef()
{
    return static_cast<ULONG>(++RefCount);
}

ULONG MyDocHandler::Release()
{
    const std::int32_t count = --RefCount;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT MyDocHandler::ShowContextMenu(DWORD, const TPoint* ppt, void*, void*)
{
    if (PopupMenu) {
        const TPoint at = ppt ? *ppt : TPoint{};
        PopupMenu->Popup(at.X, at.Y);
        return S_OK;
    }
    return ShowDefaultMenu ? E_NOTIMPL : S_OK;
}

HRESULT MyDocHandler::GetHostInfo(DOCHOSTUIINFO*)
{
    return E_NOTIMPL;
}

HRESULT MyDocHandler::ShowUI(DWORD, void*, void*, void*, void*)
{
    return E_NOTIMPL;
}

HRESULT MyDocHandler::HideUI()
{
    return E_NOTIMPL;
}

HRESULT MyDocHandler::UpdateUI()
{
    return E_NOTIMPL;
}

HRESULT MyDocHandler::EnableModeless(bool)
{
    return E_NOTIMPL;
}

HRESULT MyDocHandler::OnDocWindowActivate(bool)
{
    return E_NOTIMPL;
}

HRESULT MyDocHandler::OnFrameWindowActivate(bool)
{
    return E_NOTIMPL;
}

HRESULT MyDocHandler::ResizeBorder(const TRect*, void*, bool)
{
    return E_NOTIMPL;
}

HRESULT MyDocHandler::TranslateAccelerator(const TMessage*, const GUID*, DWORD)
{
    return E_NOTIMPL;  // the browser handles every key itself
}

HRESULT MyDocHandler::GetOptionKeyPath(wchar_t**, DWORD)
{
    return E_NOTIMPL;
}

HRESULT MyDocHandler::GetDropTarget(void*, void**)
{
    return E_NOTIMPL;
}

HRESULT MyDocHandler::GetExternal(IDispatch** ppDispatch)
{
    if (!ppDispatch) return E_POINTER;
    *ppDispatch = nullptr;
    if (!ExternalDispatch) return E_NOTIMPL;
    ExternalDispatch->AddRef();
    *ppDispatch = ExternalDispatch;
    return S_OK;
}

HRESULT MyDocHandler::TranslateUrl(DWORD, const wchar_t*, wchar_t**)
{
    return E_NOTIMPL;  // addresses are not rewritten
}

HRESULT MyDocHandler::FilterDataObject(void*, void**)
{
    return E_NOTIMPL;
}
