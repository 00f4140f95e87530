// The container's side of the conversation with a hosted control.

#include "browser/activex/ContainerSite.h"

#include <cstring>

#include "browser/activex/ActiveXHost.h"

ContainerSite::ContainerSite(ActiveXControlHost& host)
    : mHost(&host),
      mParentWindow(host.Side().GetHostWindow()),
      mAmbientForeColour(host.Side().GetWindowTextColour()),
      mAmbientBackColour(host.Side().GetWindowColour())
{
}

void* ContainerSite::FindInterface(REFIID iid)
{
    if (iid == IID_IUnknown || iid == IID_IOleClientSite)
        return static_cast<IOleClientSite*>(this);
    if (iid == IID_IDocHostUIHandler)
        return static_cast<IDocHostUIHandler*>(this);
    if (iid == IID_IOleWindow)
        return static_cast<IOleWindow*>(static_cast<IOleInPlaceSiteEx*>(this));
    if (iid == IID_IOleInPlaceSite)
        return static_cast<IOleInPlaceSite*>(this);
    if (iid == IID_IOleInPlaceSiteEx)
        return static_cast<IOleInPlaceSiteEx*>(this);
    if (iid == IID_IOleInPlaceUIWindow)
        return static_cast<IOleInPlaceUIWindow*>(this);
    if (iid == IID_IOleInPlaceFrame)
        return static_cast<IOleInPlaceFrame*>(this);
    if (iid == IID_IParseDisplayName)
        return static_cast<IParseDisplayName*>(this);
    if (iid == IID_IOleContainer)
        return static_cast<IOleContainer*>(this);
    if (iid == IID_IOleItemContainer)
        return static_cast<IOleItemContainer*>(this);
    if (iid == IID_IDispatch)
        return static_cast<IDispatch*>(this);
    if (iid == IID_IOleCommandTarget)
        return static_cast<IOleCommandTarget*>(this);
    if (iid == IID_IOleDocumentSite)
        return static_cast<IOleDocumentSite*>(this);
    if (iid == IID_IAdviseSink)
        return static_cast<IAdviseSink*>(this);
    if (iid == IID_IOleControlSite)
        return static_cast<IOleControlSite*>(this);
    return nullptr;
}

// ---------------------------------------------------------------------------------------------------
// Client site.

HRESULT ContainerSite::GetMoniker(DWORD, DWORD, IMoniker** out)
{
    if (out)
        *out = nullptr;
    return E_FAIL;
}

HRESULT ContainerSite::GetContainer(IOleContainer** out)
{
    if (!out)
        return E_INVALIDARG;
    return QueryInterface(IID_IOleContainer, reinterpret_cast<void**>(out));
}

HRESULT ContainerSite::ShowObject()
{
    if (mHost && mHost->GetControlWindow())
        mHost->Side().ShowControlWindow(mHost->GetControlWindow());
    return S_OK;
}

// A control that makes its window anew (the web browser's view, after a page it had to stop) says that
// its view changed: the host takes the control's window again, so that it never holds the one that went.
void ContainerSite::OnViewChange(DWORD, LONG)
{
    if (mHost)
        mHost->TakeControlWindow();
}

HRESULT ContainerSite::GetHostInfo(DOCHOSTUIINFO* info)
{
    if (!info)
        return E_INVALIDARG;
    info->cbSize = 20;
    info->dwFlags = DOCHOSTUIFLAG_NO3DBORDER;
    info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    return S_OK;
}

// ---------------------------------------------------------------------------------------------------
// In-place site and frame.

HRESULT ContainerSite::GetWindow(HWND* out)
{
    if (!out)
        return E_INVALIDARG;
    *out = mParentWindow;
    return S_OK;
}

HRESULT ContainerSite::OnInPlaceActivate()
{
    mInPlaceActive = true;
    return S_OK;
}

HRESULT ContainerSite::OnUIActivate()
{
    mUIActive = true;
    return S_OK;
}

HRESULT ContainerSite::OnUIDeactivate(BOOL)
{
    mUIActive = false;
    return S_OK;
}

HRESULT ContainerSite::OnInPlaceDeactivate()
{
    mInPlaceActive = false;
    return S_OK;
}

HRESULT ContainerSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT posRect,
                                        LPRECT clipRect, OLEINPLACEFRAMEINFO* frameInfo)
{
    if (!frame || !doc || !posRect || !clipRect || !frameInfo) {
        if (frame)
            *frame = nullptr;
        if (doc)
            *doc = nullptr;
        return E_INVALIDARG;
    }
    if (FAILED(QueryInterface(IID_IOleInPlaceFrame, reinterpret_cast<void**>(frame)))) {
        *frame = nullptr;
        return E_UNEXPECTED;
    }
    if (FAILED(QueryInterface(IID_IOleInPlaceUIWindow, reinterpret_cast<void**>(doc)))) {
        (*frame)->Release();
        *frame = nullptr;
        *doc = nullptr;
        return E_UNEXPECTED;
    }
    const SIZE size = mHost ? mHost->Side().GetHostClientSize() : SIZE{0, 0};
    *posRect = RECT{0, 0, size.cx, size.cy};
    *clipRect = *posRect;
    std::memset(frameInfo, 0, sizeof *frameInfo);
    frameInfo->cb = 20;
    frameInfo->hwndFrame = mParentWindow;
    return S_OK;
}

HRESULT ContainerSite::OnPosRectChange(LPCRECT posRect)
{
    if (mHost && mHost->GetInPlaceObject() && posRect)
        mHost->GetInPlaceObject()->SetObjectRects(posRect, posRect);
    return S_OK;
}

HRESULT ContainerSite::OnInPlaceActivateEx(BOOL* noRedraw, DWORD)
{
    if (mHost)
        OleLockRunning(mHost->GetControl(), TRUE, FALSE);
    if (noRedraw)
        *noRedraw = FALSE;
    return S_OK;
}

HRESULT ContainerSite::OnInPlaceDeactivateEx(BOOL)
{
    if (mHost)
        OleLockRunning(mHost->GetControl(), FALSE, FALSE);
    return S_OK;
}

HRESULT ContainerSite::GetBorder(LPRECT border)
{
    return border ? INPLACE_E_NOTOOLSPACE : E_INVALIDARG;
}

HRESULT ContainerSite::RequestBorderSpace(LPCBORDERWIDTHS widths)
{
    return widths ? INPLACE_E_NOTOOLSPACE : E_INVALIDARG;
}

HRESULT ContainerSite::SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR)
{
    if (mHost)
        mHost->SetInPlaceActiveObject(object);
    return S_OK;
}

HRESULT ContainerSite::TranslateAccelerator(MSG* msg, WORD)
{
    if (mHost && mHost->GetInPlaceActiveObject())
        mHost->GetInPlaceActiveObject()->TranslateAccelerator(msg);
    return S_FALSE;
}

// ---------------------------------------------------------------------------------------------------
// Item container: no items.

HRESULT ContainerSite::GetObject(LPOLESTR item, DWORD, IBindCtx*, REFIID, void** out)
{
    if (!item || !out)
        return E_INVALIDARG;
    *out = nullptr;
    return MK_E_NOOBJECT;
}

HRESULT ContainerSite::GetObjectStorage(LPOLESTR item, IBindCtx*, REFIID, void** out)
{
    if (!item || !out)
        return E_INVALIDARG;
    *out = nullptr;
    return MK_E_NOOBJECT;
}

HRESULT ContainerSite::IsRunning(LPOLESTR item)
{
    return item ? MK_E_NOOBJECT : E_INVALIDARG;
}

// ---------------------------------------------------------------------------------------------------
// Ambient properties.

HRESULT ContainerSite::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*)
{
    if (!(flags & DISPATCH_PROPERTYGET))
        return S_OK;
    if (!result)
        return E_INVALIDARG;
    VariantInit(result);
    // Booleans are stored as 1 and 0.
    result->vt = VT_BOOL;
    switch (id) {
    case DISPID_AMBIENT_USERMODE: result->boolVal = mHost ? mHost->AmbientUserMode() : 1; break;
    case DISPID_AMBIENT_SHOWGRABHANDLES: result->boolVal = mShowGrabHandles; break;
    case DISPID_AMBIENT_SHOWHATCHING: result->boolVal = mShowHatching; break;
    case DISPID_AMBIENT_APPEARANCE: result->boolVal = mAppearance; break;
    case DISPID_AMBIENT_DISPLAYASDEFAULT:
    case DISPID_AMBIENT_OFFLINEIFNOTCONNECTED:
    case DISPID_AMBIENT_SILENT: result->boolVal = 1; break;
    case DISPID_AMBIENT_MESSAGEREFLECT: result->boolVal = 0; break;
    case DISPID_AMBIENT_LOCALEID:
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(mAmbientLocale);
        break;
    case DISPID_AMBIENT_FORECOLOR:
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(mAmbientForeColour);
        break;
    case DISPID_AMBIENT_BACKCOLOR:
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(mAmbientBackColour);
        break;
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
    return S_OK;
}

// ---------------------------------------------------------------------------------------------------
// Commands, document site, control site.

HRESULT ContainerSite::QueryStatus(const GUID*, ULONG count, OLECMD* commands, OLECMDTEXT*)
{
    if (!commands)
        return E_INVALIDARG;
    for (ULONG i = 0; i < count; ++i)
        commands[i].cmdf = 0;
    return S_OK;
}

HRESULT ContainerSite::ActivateMe(IOleDocumentView* view)
{
    bcx::com::ComPtr<IOleInPlaceSite> inPlaceSite;
    if (FAILED(inPlaceSite.QueryFrom(static_cast<IOleClientSite*>(this), IID_IOleInPlaceSite)) || !mHost)
        return E_FAIL;
    if (view) {
        mHost->SetDocumentView(view);
        view->SetInPlaceSite(inPlaceSite.Get());
    } else {
        bcx::com::ComPtr<IOleDocument> document;
        if (FAILED(document.QueryFrom(mHost->GetOleObject(), IID_IOleDocument)) || !document)
            return E_FAIL;
        bcx::com::ComPtr<IOleDocumentView>& holder = mHost->DocumentViewHolder();
        if (document->CreateView(inPlaceSite.Get(), nullptr, 0, holder.Receive()) != S_OK || !holder)
            return E_FAIL;
        holder->SetInPlaceSite(inPlaceSite.Get());
    }
    if (mHost->GetDocumentView())
        mHost->GetDocumentView()->UIActivate(TRUE);
    return S_OK;
}

HRESULT ContainerSite::LockInPlaceActive(BOOL lock)
{
    mInPlaceLocked = lock != 0;
    return S_OK;
}

HRESULT ContainerSite::TransformCoords(POINTL* himetric, POINTF* container, DWORD)
{
    if (!himetric || !container)
        return E_INVALIDARG;
    return E_NOTIMPL;
}
