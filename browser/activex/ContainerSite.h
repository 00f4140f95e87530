#pragma once
// The object through which a hosted control talks back to its container: client site, in-place site
// and frame, document host, item container, ambient properties, command target, document site,
// advise sink and control site.

#include "browser/com/Object.h"

class ActiveXControlHost;

class ContainerSite final
    : public bcx::com::ComObject<IOleClientSite, IDocHostUIHandler, IOleInPlaceSiteEx, IOleInPlaceFrame,
                                 IOleItemContainer, IDispatch, IOleCommandTarget, IOleDocumentSite, IAdviseSink,
                                 IOleControlSite> {
public:
    explicit ContainerSite(ActiveXControlHost& host);

    // The host is going: later calls reach nothing of it.
    void Detach() { mHost = nullptr; }

    // IOleClientSite
    HRESULT SaveObject() override { return S_OK; }
    HRESULT GetMoniker(DWORD assign, DWORD which, IMoniker** out) override;
    HRESULT GetContainer(IOleContainer** out) override;
    HRESULT ShowObject() override;
    HRESULT OnShowWindow(BOOL) override { return S_OK; }
    HRESULT RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IDocHostUIHandler
    HRESULT ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override { return S_OK; }
    HRESULT GetHostInfo(DOCHOSTUIINFO* info) override;
    HRESULT ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                   IOleInPlaceUIWindow*) override { return S_FALSE; }
    HRESULT HideUI() override { return E_NOTIMPL; }
    HRESULT UpdateUI() override { return E_NOTIMPL; }
    HRESULT EnableModeless(BOOL) override { return S_OK; }
    HRESULT OnDocWindowActivate(BOOL) override { return E_NOTIMPL; }
    HRESULT OnFrameWindowActivate(BOOL) override { return E_NOTIMPL; }
    HRESULT ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    HRESULT TranslateAccelerator(MSG*, const GUID*, DWORD) override { return E_NOTIMPL; }
    HRESULT GetOptionKeyPath(LPOLESTR*, DWORD) override { return E_NOTIMPL; }
    HRESULT GetDropTarget(IUnknown*, IUnknown**) override { return E_NOTIMPL; }
    HRESULT GetExternal(IDispatch**) override { return E_NOTIMPL; }
    HRESULT TranslateUrl(DWORD, LPOLESTR, LPOLESTR*) override { return E_NOTIMPL; }
    HRESULT FilterDataObject(IUnknown*, IUnknown**) override { return E_NOTIMPL; }

    // IOleWindow (in-place site and frame)
    HRESULT GetWindow(HWND* out) override;
    HRESULT ContextSensitiveHelp(BOOL) override { return S_OK; }

    // IOleInPlaceSite(Ex)
    HRESULT CanInPlaceActivate() override { return S_OK; }
    HRESULT OnInPlaceActivate() override;
    HRESULT OnUIActivate() override;
    HRESULT GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT posRect, LPRECT clipRect,
                             OLEINPLACEFRAMEINFO* frameInfo) override;
    HRESULT Scroll(SIZE) override { return S_OK; }
    HRESULT OnUIDeactivate(BOOL) override;
    HRESULT OnInPlaceDeactivate() override;
    HRESULT DiscardUndoState() override { return S_OK; }
    HRESULT DeactivateAndUndo() override { return S_OK; }
    HRESULT OnPosRectChange(LPCRECT posRect) override;
    HRESULT OnInPlaceActivateEx(BOOL* noRedraw, DWORD flags) override;
    HRESULT OnInPlaceDeactivateEx(BOOL noRedraw) override;
    HRESULT RequestUIActivate() override { return S_OK; }

    // IOleInPlaceUIWindow / IOleInPlaceFrame
    HRESULT GetBorder(LPRECT border) override;
    HRESULT RequestBorderSpace(LPCBORDERWIDTHS widths) override;
    HRESULT SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    HRESULT SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR name) override;
    HRESULT InsertMenus(HMENU, OLEMENUGROUPWIDTHS*) override { return S_OK; }
    HRESULT SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT RemoveMenus(HMENU) override { return S_OK; }
    HRESULT SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT TranslateAccelerator(MSG* msg, WORD id) override;

    // IParseDisplayName / IOleContainer / IOleItemContainer
    HRESULT ParseDisplayName(IBindCtx*, LPOLESTR, ULONG*, IMoniker**) override { return E_NOTIMPL; }
    HRESULT EnumObjects(DWORD, IEnumUnknown**) override { return E_NOTIMPL; }
    HRESULT LockContainer(BOOL) override { return S_OK; }
    HRESULT GetObject(LPOLESTR item, DWORD speed, IBindCtx* ctx, REFIID iid, void** out) override;
    HRESULT GetObjectStorage(LPOLESTR item, IBindCtx* ctx, REFIID iid, void** out) override;
    HRESULT IsRunning(LPOLESTR item) override;

    // IDispatch: the ambient properties
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, UINT* argError) override;

    // IOleCommandTarget
    HRESULT QueryStatus(const GUID* group, ULONG count, OLECMD* commands, OLECMDTEXT* text) override;
    HRESULT Exec(const GUID*, DWORD, DWORD, VARIANT*, VARIANT*) override { return OLECMDERR_E_NOTSUPPORTED; }

    // IOleDocumentSite
    HRESULT ActivateMe(IOleDocumentView* view) override;

    // IAdviseSink
    void OnDataChange(FORMATETC*, STGMEDIUM*) override {}
    void OnViewChange(DWORD aspect, LONG index) override;
    void OnRename(IMoniker*) override {}
    void OnSave() override {}
    void OnClose() override {}

    // IOleControlSite
    HRESULT OnControlInfoChanged() override { return S_OK; }
    HRESULT LockInPlaceActive(BOOL lock) override;
    HRESULT GetExtendedControl(IDispatch**) override { return E_NOTIMPL; }
    HRESULT TransformCoords(POINTL* himetric, POINTF* container, DWORD flags) override;
    HRESULT TranslateAccelerator(MSG*, DWORD) override { return E_NOTIMPL; }
    HRESULT OnFocus(BOOL) override { return S_OK; }
    HRESULT ShowPropertyFrame() override { return E_NOTIMPL; }

protected:
    void* FindInterface(REFIID iid) override;

private:
    ActiveXControlHost* mHost;
    HWND mParentWindow;
    bool mInPlaceLocked = false;
    bool mInPlaceActive = false;
    bool mUIActive = false;
    LCID mAmbientLocale = 0;
    COLORREF mAmbientForeColour;
    COLORREF mAmbientBackColour;
    bool mShowHatching = true;
    bool mShowGrabHandles = true;
    bool mAppearance = true;
};
