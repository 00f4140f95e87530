#pragma once
// The interfaces that the control container, its site, the event sink and the hosted controls talk
// through, with their ids. Every interface lists only the members that one side calls on the other.
// Objects implement several interfaces by deriving from each; a pointer to an interface is a pointer to
// that base.

#include "browser/com/ComTypes.h"
#include "browser/com/Variant.h"

// Our interface ids: one counter value per interface in the first field, the same tail for all.
constexpr IID LayerIid(uint32_t n) { return IID{n, 0x0000, 0xBC00, {0xB7, 0xA1, 0x3C, 0x45, 0x70, 0x00, 0x00, 0x01}}; }

constexpr IID IID_IUnknown = LayerIid(0x00);
constexpr IID IID_IDispatch = LayerIid(0x01);
constexpr IID IID_ITypeInfo = LayerIid(0x02);
constexpr IID IID_IProvideClassInfo = LayerIid(0x03);
constexpr IID IID_IConnectionPointContainer = LayerIid(0x04);
constexpr IID IID_IConnectionPoint = LayerIid(0x05);
constexpr IID IID_IOleObject = LayerIid(0x06);
constexpr IID IID_IOleWindow = LayerIid(0x07);
constexpr IID IID_IOleInPlaceObject = LayerIid(0x08);
constexpr IID IID_IOleInPlaceActiveObject = LayerIid(0x09);
constexpr IID IID_IViewObject = LayerIid(0x0A);
constexpr IID IID_IOleClientSite = LayerIid(0x0B);
constexpr IID IID_IDocHostUIHandler = LayerIid(0x0C);
constexpr IID IID_IOleInPlaceSite = LayerIid(0x0D);
constexpr IID IID_IOleInPlaceSiteEx = LayerIid(0x0E);
constexpr IID IID_IOleInPlaceUIWindow = LayerIid(0x0F);
constexpr IID IID_IOleInPlaceFrame = LayerIid(0x10);
constexpr IID IID_IParseDisplayName = LayerIid(0x11);
constexpr IID IID_IOleContainer = LayerIid(0x12);
constexpr IID IID_IOleItemContainer = LayerIid(0x13);
constexpr IID IID_IOleCommandTarget = LayerIid(0x14);
constexpr IID IID_IOleDocumentSite = LayerIid(0x15);
constexpr IID IID_IOleDocument = LayerIid(0x16);
constexpr IID IID_IOleDocumentView = LayerIid(0x17);
constexpr IID IID_IAdviseSink = LayerIid(0x18);
constexpr IID IID_IOleControlSite = LayerIid(0x19);
constexpr IID IID_ISequentialStream = LayerIid(0x1A);
constexpr IID IID_IStream = LayerIid(0x1B);
constexpr IID IID_IPersist = LayerIid(0x1C);
constexpr IID IID_IPersistStreamInit = LayerIid(0x1D);
constexpr IID IID_IMalloc = LayerIid(0x1E);
constexpr IID IID_IWebBrowser2 = LayerIid(0x1F);
// The web browser control's event (source) interface.
constexpr IID DIID_DWebBrowserEvents2 = LayerIid(0x20);

// The web browser control's class.
constexpr CLSID CLSID_WebBrowser = {0x8856F961, 0x340A, 0x11D0, {0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2}};

struct IMoniker;
struct IBindCtx;
struct IEnumUnknown;
struct ITypeInfo;
struct IOleClientSite;
struct IOleContainer;
struct IOleInPlaceFrame;
struct IOleInPlaceUIWindow;
struct IOleInPlaceActiveObject;
struct IOleInPlaceSite;
struct IOleCommandTarget;
struct IOleDocumentView;
struct IAdviseSink;
struct IStream;

// ---------------------------------------------------------------------------------------------------
struct IUnknown {
    virtual HRESULT QueryInterface(REFIID iid, void** out) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

struct IMalloc : IUnknown {
    virtual void* Alloc(size_t bytes) = 0;
    virtual void* Realloc(void* block, size_t bytes) = 0;
    virtual void Free(void* block) = 0;
};

// ---------------------------------------------------------------------------------------------------
// Type information.
enum TYPEKIND { TKIND_ENUM, TKIND_RECORD, TKIND_MODULE, TKIND_INTERFACE, TKIND_DISPATCH, TKIND_COCLASS };
enum INVOKEKIND {
    INVOKE_FUNC = 1,
    INVOKE_PROPERTYGET = 2,
    INVOKE_PROPERTYPUT = 4,
    INVOKE_PROPERTYPUTREF = 8,
};
enum FUNCKIND { FUNC_VIRTUAL, FUNC_PUREVIRTUAL, FUNC_NONVIRTUAL, FUNC_STATIC, FUNC_DISPATCH };

enum : USHORT {
    IDLFLAG_NONE = 0,
    IDLFLAG_FIN = 1,
    IDLFLAG_FOUT = 2,
    IDLFLAG_FLCID = 4,
    IDLFLAG_FRETVAL = 8,
};
enum : INT {
    IMPLTYPEFLAG_FDEFAULT = 1,
    IMPLTYPEFLAG_FSOURCE = 2,
    IMPLTYPEFLAG_FRESTRICTED = 4,
    IMPLTYPEFLAG_FDEFAULTVTABLE = 8,
};

// A declared type: vt, and for VT_PTR and VT_SAFEARRAY the type pointed to in lptdesc.
struct TYPEDESC {
    const TYPEDESC* lptdesc;
    HREFTYPE hreftype;
    VARTYPE vt;
};
struct PARAMDESC {
    USHORT wParamFlags;
};
struct ELEMDESC {
    TYPEDESC tdesc;
    PARAMDESC paramdesc;
};
struct TYPEATTR {
    GUID guid;
    LCID lcid;
    TYPEKIND typekind;
    WORD cFuncs;
    WORD cVars;
    WORD cImplTypes;
    WORD wTypeFlags;
};
struct FUNCDESC {
    MEMBERID memid;
    ELEMDESC* lprgelemdescParam;
    FUNCKIND funckind;
    INVOKEKIND invkind;
    SHORT cParams;
    SHORT cParamsOpt;
    ELEMDESC elemdescFunc;
    WORD wFuncFlags;
};

struct ITypeInfo : IUnknown {
    virtual HRESULT GetTypeAttr(TYPEATTR** out) = 0;
    virtual void ReleaseTypeAttr(TYPEATTR* attr) = 0;
    virtual HRESULT GetFuncDesc(UINT index, FUNCDESC** out) = 0;
    virtual void ReleaseFuncDesc(FUNCDESC* desc) = 0;
    // The member's name, then its parameters' names; at most maxNames, each a new BSTR.
    virtual HRESULT GetNames(MEMBERID id, BSTR* names, UINT maxNames, UINT* count) = 0;
    virtual HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* out) = 0;
    virtual HRESULT GetImplTypeFlags(UINT index, INT* flags) = 0;
    virtual HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** out) = 0;
};

struct IDispatch : IUnknown {
    virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** out) = 0;
    virtual HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) = 0;
    virtual HRESULT Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                           EXCEPINFO* exception, UINT* argError) = 0;
};

struct IProvideClassInfo : IUnknown {
    virtual HRESULT GetClassInfo(ITypeInfo** out) = 0;
};

// ---------------------------------------------------------------------------------------------------
// Events.
struct IConnectionPointContainer;

struct IConnectionPoint : IUnknown {
    virtual HRESULT GetConnectionInterface(IID* out) = 0;
    virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
    virtual HRESULT Unadvise(DWORD cookie) = 0;
};

struct IConnectionPointContainer : IUnknown {
    virtual HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** out) = 0;
};

struct IAdviseSink : IUnknown {
    virtual void OnDataChange(FORMATETC* format, STGMEDIUM* medium) = 0;
    virtual void OnViewChange(DWORD aspect, LONG index) = 0;
    virtual void OnRename(IMoniker* moniker) = 0;
    virtual void OnSave() = 0;
    virtual void OnClose() = 0;
};

// ---------------------------------------------------------------------------------------------------
// The control's side.
struct IOleObject : IUnknown {
    virtual HRESULT SetClientSite(IOleClientSite* site) = 0;
    virtual HRESULT GetClientSite(IOleClientSite** out) = 0;
    virtual HRESULT SetHostNames(LPCOLESTR containerApp, LPCOLESTR containerObject) = 0;
    virtual HRESULT Close(DWORD saveOption) = 0;
    virtual HRESULT DoVerb(LONG verb, MSG* msg, IOleClientSite* site, LONG index, HWND parent, LPCRECT posRect) = 0;
    virtual HRESULT SetExtent(DWORD aspect, SIZEL* size) = 0;
    virtual HRESULT GetExtent(DWORD aspect, SIZEL* size) = 0;
    virtual HRESULT Advise(IAdviseSink* sink, DWORD* cookie) = 0;
    virtual HRESULT Unadvise(DWORD cookie) = 0;
    virtual HRESULT GetMiscStatus(DWORD aspect, DWORD* status) = 0;
};

struct IOleWindow : IUnknown {
    virtual HRESULT GetWindow(HWND* out) = 0;
    virtual HRESULT ContextSensitiveHelp(BOOL enterMode) = 0;
};

struct IOleInPlaceObject : IOleWindow {
    virtual HRESULT InPlaceDeactivate() = 0;
    virtual HRESULT UIDeactivate() = 0;
    virtual HRESULT SetObjectRects(LPCRECT posRect, LPCRECT clipRect) = 0;
    virtual HRESULT ReactivateAndUndo() = 0;
};

struct IOleInPlaceActiveObject : IOleWindow {
    virtual HRESULT TranslateAccelerator(MSG* msg) = 0;
    virtual HRESULT OnFrameWindowActivate(BOOL activate) = 0;
    virtual HRESULT OnDocWindowActivate(BOOL activate) = 0;
    virtual HRESULT ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frameWindow) = 0;
    virtual HRESULT EnableModeless(BOOL enable) = 0;
};

typedef BOOL (*ContinueDrawing)(ULONG_PTR);
struct IViewObject : IUnknown {
    virtual HRESULT Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* targetDevice, HDC targetInfo,
                         HDC draw, const RECTL* bounds, const RECTL* windowBounds, ContinueDrawing cont,
                         ULONG_PTR contArg) = 0;
};

struct IOleDocument : IUnknown {
    virtual HRESULT CreateView(IOleInPlaceSite* site, IStream* stream, DWORD reserved, IOleDocumentView** out) = 0;
};

struct IOleDocumentView : IUnknown {
    virtual HRESULT SetInPlaceSite(IOleInPlaceSite* site) = 0;
    virtual HRESULT UIActivate(BOOL activate) = 0;
};

// ---------------------------------------------------------------------------------------------------
// The container's side (the client site and its companions).
struct IOleClientSite : IUnknown {
    virtual HRESULT SaveObject() = 0;
    virtual HRESULT GetMoniker(DWORD assign, DWORD which, IMoniker** out) = 0;
    virtual HRESULT GetContainer(IOleContainer** out) = 0;
    virtual HRESULT ShowObject() = 0;
    virtual HRESULT OnShowWindow(BOOL show) = 0;
    virtual HRESULT RequestNewObjectLayout() = 0;
};

struct IDocHostUIHandler : IUnknown {
    virtual HRESULT ShowContextMenu(DWORD id, POINT* pt, IUnknown* target, IDispatch* object) = 0;
    virtual HRESULT GetHostInfo(DOCHOSTUIINFO* info) = 0;
    virtual HRESULT ShowUI(DWORD id, IOleInPlaceActiveObject* active, IOleCommandTarget* target,
                           IOleInPlaceFrame* frame, IOleInPlaceUIWindow* doc) = 0;
    virtual HRESULT HideUI() = 0;
    virtual HRESULT UpdateUI() = 0;
    virtual HRESULT EnableModeless(BOOL enable) = 0;
    virtual HRESULT OnDocWindowActivate(BOOL activate) = 0;
    virtual HRESULT OnFrameWindowActivate(BOOL activate) = 0;
    virtual HRESULT ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frameWindow) = 0;
    virtual HRESULT TranslateAccelerator(MSG* msg, const GUID* group, DWORD command) = 0;
    virtual HRESULT GetOptionKeyPath(LPOLESTR* key, DWORD reserved) = 0;
    virtual HRESULT GetDropTarget(IUnknown* dropTarget, IUnknown** out) = 0;
    virtual HRESULT GetExternal(IDispatch** out) = 0;
    virtual HRESULT TranslateUrl(DWORD translate, LPOLESTR url, LPOLESTR* out) = 0;
    virtual HRESULT FilterDataObject(IUnknown* object, IUnknown** out) = 0;
};

struct IOleInPlaceSite : IOleWindow {
    virtual HRESULT CanInPlaceActivate() = 0;
    virtual HRESULT OnInPlaceActivate() = 0;
    virtual HRESULT OnUIActivate() = 0;
    virtual HRESULT GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT posRect,
                                     LPRECT clipRect, OLEINPLACEFRAMEINFO* frameInfo) = 0;
    virtual HRESULT Scroll(SIZE extent) = 0;
    virtual HRESULT OnUIDeactivate(BOOL undoable) = 0;
    virtual HRESULT OnInPlaceDeactivate() = 0;
    virtual HRESULT DiscardUndoState() = 0;
    virtual HRESULT DeactivateAndUndo() = 0;
    virtual HRESULT OnPosRectChange(LPCRECT posRect) = 0;
};

struct IOleInPlaceSiteEx : IOleInPlaceSite {
    virtual HRESULT OnInPlaceActivateEx(BOOL* noRedraw, DWORD flags) = 0;
    virtual HRESULT OnInPlaceDeactivateEx(BOOL noRedraw) = 0;
    virtual HRESULT RequestUIActivate() = 0;
};

struct IOleInPlaceUIWindow : IOleWindow {
    virtual HRESULT GetBorder(LPRECT border) = 0;
    virtual HRESULT RequestBorderSpace(LPCBORDERWIDTHS widths) = 0;
    virtual HRESULT SetBorderSpace(LPCBORDERWIDTHS widths) = 0;
    virtual HRESULT SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR name) = 0;
};

struct IOleInPlaceFrame : IOleInPlaceUIWindow {
    virtual HRESULT InsertMenus(HMENU shared, OLEMENUGROUPWIDTHS* widths) = 0;
    virtual HRESULT SetMenu(HMENU shared, HOLEMENU descriptor, HWND activeObject) = 0;
    virtual HRESULT RemoveMenus(HMENU shared) = 0;
    virtual HRESULT SetStatusText(LPCOLESTR text) = 0;
    virtual HRESULT EnableModeless(BOOL enable) = 0;
    virtual HRESULT TranslateAccelerator(MSG* msg, WORD id) = 0;
};

struct IParseDisplayName : IUnknown {
    virtual HRESULT ParseDisplayName(IBindCtx* ctx, LPOLESTR name, ULONG* eaten, IMoniker** out) = 0;
};

struct IOleContainer : IParseDisplayName {
    virtual HRESULT EnumObjects(DWORD flags, IEnumUnknown** out) = 0;
    virtual HRESULT LockContainer(BOOL lock) = 0;
};

struct IOleItemContainer : IOleContainer {
    virtual HRESULT GetObject(LPOLESTR item, DWORD speed, IBindCtx* ctx, REFIID iid, void** out) = 0;
    virtual HRESULT GetObjectStorage(LPOLESTR item, IBindCtx* ctx, REFIID iid, void** out) = 0;
    virtual HRESULT IsRunning(LPOLESTR item) = 0;
};

struct IOleCommandTarget : IUnknown {
    virtual HRESULT QueryStatus(const GUID* group, ULONG count, OLECMD* commands, OLECMDTEXT* text) = 0;
    virtual HRESULT Exec(const GUID* group, DWORD id, DWORD option, VARIANT* in, VARIANT* out) = 0;
};

struct IOleDocumentSite : IUnknown {
    virtual HRESULT ActivateMe(IOleDocumentView* view) = 0;
};

struct IOleControlSite : IUnknown {
    virtual HRESULT OnControlInfoChanged() = 0;
    virtual HRESULT LockInPlaceActive(BOOL lock) = 0;
    virtual HRESULT GetExtendedControl(IDispatch** out) = 0;
    virtual HRESULT TransformCoords(POINTL* himetric, POINTF* container, DWORD flags) = 0;
    virtual HRESULT TranslateAccelerator(MSG* msg, DWORD modifiers) = 0;
    virtual HRESULT OnFocus(BOOL gotFocus) = 0;
    virtual HRESULT ShowPropertyFrame() = 0;
};

// ---------------------------------------------------------------------------------------------------
// Streams and persistence.
enum : DWORD { STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2 };

struct ISequentialStream : IUnknown {
    virtual HRESULT Read(void* buffer, ULONG bytes, ULONG* read) = 0;
    virtual HRESULT Write(const void* buffer, ULONG bytes, ULONG* written) = 0;
};

struct IStream : ISequentialStream {
    virtual HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) = 0;
    virtual HRESULT SetSize(ULARGE_INTEGER size) = 0;
    virtual HRESULT CopyTo(IStream* target, ULARGE_INTEGER bytes, ULARGE_INTEGER* read, ULARGE_INTEGER* written) = 0;
    virtual HRESULT Commit(DWORD flags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER bytes, DWORD lockType) = 0;
    virtual HRESULT UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER bytes, DWORD lockType) = 0;
    virtual HRESULT Stat(STATSTG* stat, DWORD flags) = 0;
    virtual HRESULT Clone(IStream** out) = 0;
};

struct IPersist : IUnknown {
    virtual HRESULT GetClassID(CLSID* out) = 0;
};

struct IPersistStreamInit : IPersist {
    virtual HRESULT IsDirty() = 0;
    virtual HRESULT Load(IStream* stream) = 0;
    virtual HRESULT Save(IStream* stream, BOOL clearDirty) = 0;
    virtual HRESULT GetSizeMax(ULARGE_INTEGER* size) = 0;
    virtual HRESULT InitNew() = 0;
};

// ---------------------------------------------------------------------------------------------------
// The web browser control.
struct IWebBrowser2 : IDispatch {
    virtual HRESULT GoBack() = 0;
    virtual HRESULT GoForward() = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT Navigate(BSTR url, VARIANT* flags, VARIANT* targetFrame, VARIANT* postData, VARIANT* headers) = 0;
    virtual HRESULT get_Document(IDispatch** out) = 0;
    virtual HRESULT put_MenuBar(VARIANT_BOOL value) = 0;
    virtual HRESULT put_AddressBar(VARIANT_BOOL value) = 0;
    virtual HRESULT put_StatusBar(VARIANT_BOOL value) = 0;
    virtual HRESULT put_ToolBar(int value) = 0;
    virtual HRESULT put_RegisterAsBrowser(VARIANT_BOOL value) = 0;
    virtual HRESULT put_RegisterAsDropTarget(VARIANT_BOOL value) = 0;
};
