#include "browser/webbrowser/WebBrowserControl.h"

#include <wx/log.h>
#include <wx/webview.h>
#include <wx/window.h>

#include "browser/com/TypeTables.h"
#include "browser/com/WideText.h"

namespace bcx {
namespace {

// A document longer than this is cut; the built-in pages are a few kilobytes.
const size_t kMaxDocumentBytes = 4 * 1024 * 1024;

// The browser interface as the container reads it. Only the members the program calls are listed.
enum : DISPID {
    DispidGoBack = 100,
    DispidGoForward = 101,
    DispidNavigate = 104,
    DispidStop = 106,
    DispidDocument = 203,
    DispidToolBar = 0x227,
    DispidMenuBar = 0x228,
    DispidStatusBar = 0x229,
    DispidAddressBar = 0x22A,
    DispidRegisterAsBrowser = 0x228 + 0x100,
    DispidRegisterAsDropTarget = 0x229 + 0x100,
};

const com::ParamRow kNavigateParams[] = {
    {"URL", VT_BSTR, false, IDLFLAG_FIN},
    {"Flags", VT_VARIANT, true, IDLFLAG_FIN},
    {"TargetFrameName", VT_VARIANT, true, IDLFLAG_FIN},
    {"PostData", VT_VARIANT, true, IDLFLAG_FIN},
    {"Headers", VT_VARIANT, true, IDLFLAG_FIN},
};
const com::ParamRow kBoolValue[] = {{"Value", VT_BOOL, false, IDLFLAG_FIN}};
const com::ParamRow kIntValue[] = {{"Value", VT_I4, false, IDLFLAG_FIN}};

const com::FuncRow kBrowserFuncs[] = {
    {"GoBack", DispidGoBack, INVOKE_FUNC, VT_VOID, nullptr, 0},
    {"GoForward", DispidGoForward, INVOKE_FUNC, VT_VOID, nullptr, 0},
    {"Navigate", DispidNavigate, INVOKE_FUNC, VT_VOID, kNavigateParams, 5},
    {"Stop", DispidStop, INVOKE_FUNC, VT_VOID, nullptr, 0},
    {"Document", DispidDocument, INVOKE_PROPERTYGET, VT_DISPATCH, nullptr, 0},
    {"MenuBar", DispidMenuBar, INVOKE_PROPERTYPUT, VT_VOID, kBoolValue, 1},
    {"AddressBar", DispidAddressBar, INVOKE_PROPERTYPUT, VT_VOID, kBoolValue, 1},
    {"StatusBar", DispidStatusBar, INVOKE_PROPERTYPUT, VT_VOID, kBoolValue, 1},
    {"ToolBar", DispidToolBar, INVOKE_PROPERTYPUT, VT_VOID, kIntValue, 1},
    {"RegisterAsBrowser", DispidRegisterAsBrowser, INVOKE_PROPERTYPUT, VT_VOID, kBoolValue, 1},
    {"RegisterAsDropTarget", DispidRegisterAsDropTarget, INVOKE_PROPERTYPUT, VT_VOID, kBoolValue, 1},
};

// The events. Arguments are fired in this order; by-reference ones point at the control's variables.
const com::ParamRow kBeforeNavigateParams[] = {
    {"pDisp", VT_DISPATCH, false, IDLFLAG_FIN},
    {"URL", VT_VARIANT, true, IDLFLAG_FIN},
    {"Flags", VT_VARIANT, true, IDLFLAG_FIN},
    {"TargetFrameName", VT_VARIANT, true, IDLFLAG_FIN},
    {"PostData", VT_VARIANT, true, IDLFLAG_FIN},
    {"Headers", VT_VARIANT, true, IDLFLAG_FIN},
    {"Cancel", VT_BOOL, true, IDLFLAG_FIN | IDLFLAG_FOUT},
};
const com::ParamRow kNewWindowParams[] = {
    {"ppDisp", VT_DISPATCH, true, IDLFLAG_FIN | IDLFLAG_FOUT},
    {"Cancel", VT_BOOL, true, IDLFLAG_FIN | IDLFLAG_FOUT},
    {"dwFlags", VT_UI4, false, IDLFLAG_FIN},
    {"bstrUrlContext", VT_BSTR, false, IDLFLAG_FIN},
    {"bstrUrl", VT_BSTR, false, IDLFLAG_FIN},
};
const com::ParamRow kCommandStateParams[] = {
    {"Command", VT_I4, false, IDLFLAG_FIN},
    {"Enable", VT_BOOL, false, IDLFLAG_FIN},
};
const com::FuncRow kEventFuncs[] = {
    {"CommandStateChange", DISPID_COMMANDSTATECHANGE, INVOKE_FUNC, VT_VOID, kCommandStateParams, 2},
    {"BeforeNavigate2", DISPID_BEFORENAVIGATE2, INVOKE_FUNC, VT_VOID, kBeforeNavigateParams, 7},
    {"NewWindow3", DISPID_NEWWINDOW3, INVOKE_FUNC, VT_VOID, kNewWindowParams, 5},
};

const com::InterfaceTable kBrowserInterface = {IID_IWebBrowser2, TKIND_DISPATCH, kBrowserFuncs,
                                              static_cast<int>(sizeof kBrowserFuncs / sizeof kBrowserFuncs[0])};
const com::InterfaceTable kEventInterface = {DIID_DWebBrowserEvents2, TKIND_DISPATCH, kEventFuncs,
                                            static_cast<int>(sizeof kEventFuncs / sizeof kEventFuncs[0])};
const com::ImplRow kImplemented[] = {
    {&kBrowserInterface, IMPLTYPEFLAG_FDEFAULT},
    {&kEventInterface, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
};
const com::ClassTable kBrowserClass = {CLSID_WebBrowser, kImplemented, 2};

VARIANT Value(VARTYPE type)
{
    VARIANT v{};
    VariantInit(&v);
    v.vt = type;
    return v;
}

VARIANT Ref(VARIANT* target)
{
    VARIANT v = Value(VT_BYREF | VT_VARIANT);
    v.pvarVal = target;
    return v;
}

VARIANT BstrValue(const wxString& text)
{
    VARIANT v = Value(VT_BSTR);
    v.bstrVal = com::ToBstr(text);
    return v;
}

// The current page's document: loading it from a stream shows the stream's HTML in place of the page.
class WebDocument : public com::ComObject<IDispatch, IPersistStreamInit> {
public:
    explicit WebDocument(WebBrowserControl* control) : mControl(control) {}

    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    HRESULT GetClassID(CLSID*) override { return E_NOTIMPL; }
    HRESULT IsDirty() override { return S_FALSE; }
    HRESULT Save(IStream*, BOOL) override { return E_NOTIMPL; }
    HRESULT GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT InitNew() override { return S_OK; }

    HRESULT Load(IStream* stream) override
    {
        if (!stream)
            return E_INVALIDARG;
        std::string html;
        char buffer[4096];
        for (;;) {
            ULONG read = 0;
            if (FAILED(stream->Read(buffer, sizeof buffer, &read)) || read == 0)
                break;
            if (read > sizeof buffer)
                read = sizeof buffer;
            if (html.size() + read > kMaxDocumentBytes) {
                wxLogMessage(wxS("[browser] document longer than %u bytes; the rest is dropped"),
                             static_cast<unsigned>(kMaxDocumentBytes));
                html.append(buffer, kMaxDocumentBytes - html.size());
                break;
            }
            html.append(buffer, read);
        }
        return mControl->WriteDocument(html) ? S_OK : E_FAIL;
    }

protected:
    void* FindInterface(REFIID iid) override
    {
        if (iid == IID_IUnknown || iid == IID_IDispatch)
            return static_cast<IDispatch*>(this);
        if (iid == IID_IPersist || iid == IID_IPersistStreamInit)
            return static_cast<IPersistStreamInit*>(this);
        return nullptr;
    }

private:
    // The document keeps its control alive.
    com::ComPtr<WebBrowserControl> mControl;
};

} // namespace

void WebBrowserControl::Register()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    com::RegisterClass(CLSID_WebBrowser, [] { return static_cast<IWebBrowser2*>(new WebBrowserControl); });
}

WebBrowserControl::WebBrowserControl()
{
    mEvents.AddInterface(DIID_DWebBrowserEvents2);
}

WebBrowserControl::~WebBrowserControl()
{
    mHost.reset();
    mEvents.DisconnectAll();
}

void* WebBrowserControl::FindInterface(REFIID iid)
{
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IWebBrowser2)
        return static_cast<IWebBrowser2*>(this);
    if (iid == IID_IOleObject)
        return static_cast<IOleObject*>(this);
    if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject)
        return static_cast<IOleInPlaceObject*>(this);
    if (iid == IID_IProvideClassInfo)
        return static_cast<IProvideClassInfo*>(this);
    if (iid == IID_IConnectionPointContainer)
        return static_cast<IConnectionPointContainer*>(this);
    return nullptr;
}

bool WebBrowserControl::WriteDocument(const std::string& html)
{
    if (!mHost)
        return false;
    mHost->WriteDocument(html);
    return true;
}

// --- IDispatch -------------------------------------------------------------------------------------

HRESULT WebBrowserControl::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
HRESULT WebBrowserControl::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT WebBrowserControl::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
HRESULT WebBrowserControl::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
{
    return E_NOTIMPL;
}

// --- IWebBrowser2 ----------------------------------------------------------------------------------

HRESULT WebBrowserControl::GoBack()
{
    return mHost && mHost->GoBack() ? S_OK : E_FAIL;
}

HRESULT WebBrowserControl::GoForward()
{
    return mHost && mHost->GoForward() ? S_OK : E_FAIL;
}

HRESULT WebBrowserControl::Stop()
{
    if (!mHost)
        return E_FAIL;
    mHost->Stop();
    return S_OK;
}

HRESULT WebBrowserControl::Navigate(BSTR url, VARIANT* flags, VARIANT*, VARIANT*, VARIANT*)
{
    // Of the flags only navNoReadFromCache means something here: the page comes from its server. Frame
    // names, post data and headers are not taken from callers.
    if (!mHost)
        return E_FAIL;
    long value = 0;
    if (flags && (flags->vt == VT_I2 || flags->vt == VT_I4))
        value = flags->vt == VT_I2 ? flags->iVal : flags->lVal;
    mHost->Navigate(com::FromBstr(url), (value & navNoReadFromCache) != 0);
    return S_OK;
}

HRESULT WebBrowserControl::get_Document(IDispatch** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!mHost)
        return E_FAIL;
    *out = new WebDocument(this);
    (*out)->AddRef();
    return S_OK;
}

// The web view has no menu, address, status or tool bars, takes no part in a shell's browser list and
// keeps its own drop handling: these settings are accepted as they are.
HRESULT WebBrowserControl::put_MenuBar(VARIANT_BOOL) { return S_OK; }
HRESULT WebBrowserControl::put_AddressBar(VARIANT_BOOL) { return S_OK; }
HRESULT WebBrowserControl::put_StatusBar(VARIANT_BOOL) { return S_OK; }
HRESULT WebBrowserControl::put_ToolBar(int) { return S_OK; }
HRESULT WebBrowserControl::put_RegisterAsBrowser(VARIANT_BOOL) { return S_OK; }
HRESULT WebBrowserControl::put_RegisterAsDropTarget(VARIANT_BOOL) { return S_OK; }

// --- IOleObject ------------------------------------------------------------------------------------

HRESULT WebBrowserControl::SetClientSite(IOleClientSite* site)
{
    mSite = site;
    return S_OK;
}

HRESULT WebBrowserControl::GetClientSite(IOleClientSite** out)
{
    if (!out)
        return E_POINTER;
    *out = mSite.Get();
    if (*out)
        (*out)->AddRef();
    return S_OK;
}

HRESULT WebBrowserControl::SetHostNames(LPCOLESTR, LPCOLESTR)
{
    return S_OK;
}

HRESULT WebBrowserControl::Close(DWORD)
{
    InPlaceDeactivate();
    mClosed = true;
    mEvents.DisconnectAll();
    for (com::ComPtr<IAdviseSink>& sink : mAdviseSinks) {
        if (sink)
            sink->OnClose();
        sink.Reset();
    }
    return S_OK;
}

HRESULT WebBrowserControl::DoVerb(LONG verb, MSG*, IOleClientSite* site, LONG, HWND parent, LPCRECT posRect)
{
    if (site && !mSite)
        mSite = site;
    switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE:
        if (!Activate(parent, posRect))
            return E_FAIL;
        if (verb == OLEIVERB_SHOW && mHost->View())
            mHost->View()->Show();
        return S_OK;
    case OLEIVERB_HIDE:
        if (mHost && mHost->View())
            mHost->View()->Hide();
        return S_OK;
    default:
        return E_NOTIMPL;
    }
}

bool WebBrowserControl::Activate(HWND parent, LPCRECT posRect)
{
    if (mHost)
        return true;
    if (mClosed || !parent)
        return false;
    com::ComPtr<IOleInPlaceSite> inPlace;
    if (mSite) {
        inPlace.QueryFrom(mSite.Get(), IID_IOleInPlaceSite);
        if (inPlace && inPlace->CanInPlaceActivate() != S_OK)
            return false;
    }
    WebViewHost::Listener listener;
    listener.navigating = [this](const wxString& url, bool userGesture) {
        return FireBeforeNavigate(url, userGesture);
    };
    listener.newWindow = [this](const wxString& url) { FireNewWindow(url); };
    listener.commandState = [this](BrowserCommand command, bool enable) { FireCommandState(command, enable); };
    listener.viewRenewed = [this] { ViewRenewed(); };
    mHost = std::make_unique<WebViewHost>(parent, std::move(listener));
    if (inPlace)
        inPlace->OnInPlaceActivate();
    if (posRect)
        SetObjectRects(posRect, posRect);
    return true;
}

HRESULT WebBrowserControl::SetExtent(DWORD aspect, SIZEL* size)
{
    if (aspect != DVASPECT_CONTENT || !size)
        return E_INVALIDARG;
    mExtent = *size;
    return S_OK;
}

HRESULT WebBrowserControl::GetExtent(DWORD aspect, SIZEL* size)
{
    if (aspect != DVASPECT_CONTENT || !size)
        return E_INVALIDARG;
    *size = mExtent;
    return S_OK;
}

HRESULT WebBrowserControl::Advise(IAdviseSink* sink, DWORD* cookie)
{
    if (!sink || !cookie)
        return E_INVALIDARG;
    mAdviseSinks.emplace_back(sink);
    *cookie = static_cast<DWORD>(mAdviseSinks.size());
    return S_OK;
}

HRESULT WebBrowserControl::Unadvise(DWORD cookie)
{
    if (cookie == 0 || cookie > mAdviseSinks.size() || !mAdviseSinks[cookie - 1])
        return CONNECT_E_NOCONNECTION;
    mAdviseSinks[cookie - 1].Reset();
    return S_OK;
}

HRESULT WebBrowserControl::GetMiscStatus(DWORD, DWORD* status)
{
    if (!status)
        return E_POINTER;
    // The control wants its site before anything else.
    *status = OLEMISC_SETCLIENTSITEFIRST;
    return S_OK;
}

// --- IOleInPlaceObject -----------------------------------------------------------------------------

HRESULT WebBrowserControl::GetWindow(HWND* out)
{
    if (!out)
        return E_INVALIDARG;
    *out = mHost ? mHost->View() : nullptr;
    return *out ? S_OK : E_FAIL;
}

HRESULT WebBrowserControl::ContextSensitiveHelp(BOOL)
{
    return E_NOTIMPL;
}

HRESULT WebBrowserControl::InPlaceDeactivate()
{
    if (!mHost)
        return S_OK;
    mHost.reset();
    com::ComPtr<IOleInPlaceSite> inPlace;
    if (mSite && SUCCEEDED(inPlace.QueryFrom(mSite.Get(), IID_IOleInPlaceSite)))
        inPlace->OnInPlaceDeactivate();
    return S_OK;
}

HRESULT WebBrowserControl::UIDeactivate()
{
    return S_OK;
}

HRESULT WebBrowserControl::SetObjectRects(LPCRECT posRect, LPCRECT)
{
    if (!posRect)
        return E_INVALIDARG;
    if (mHost && mHost->View())
        mHost->View()->SetSize(posRect->left, posRect->top, posRect->right - posRect->left,
                               posRect->bottom - posRect->top);
    return S_OK;
}

HRESULT WebBrowserControl::ReactivateAndUndo()
{
    return E_NOTIMPL;
}

// --- type information and events ------------------------------------------------------------------

HRESULT WebBrowserControl::GetClassInfo(ITypeInfo** out)
{
    return com::CreateClassTypeInfo(kBrowserClass, out);
}

HRESULT WebBrowserControl::FindConnectionPoint(REFIID iid, IConnectionPoint** out)
{
    return mEvents.FindConnectionPoint(iid, out);
}

bool WebBrowserControl::FireBeforeNavigate(const wxString& url, bool userGesture)
{
    // A handler may release the container (and so this control) while the event runs.
    com::ComPtr<WebBrowserControl> keep(this);
    VARIANT urlValue = BstrValue(url);
    VARIANT flags = Value(VT_I4);
    flags.lVal = userGesture ? navUserGesture : 0;
    VARIANT frame = BstrValue(wxString());
    VARIANT postData = Value(VT_EMPTY);
    VARIANT headers = BstrValue(wxString());
    VARIANT_BOOL cancel = VARIANT_FALSE;

    VARIANT args[7] = {Value(VT_DISPATCH), Ref(&urlValue), Ref(&flags), Ref(&frame), Ref(&postData),
                       Ref(&headers), Value(VT_BYREF | VT_BOOL)};
    args[0].pdispVal = static_cast<IWebBrowser2*>(this);
    args[6].pboolVal = &cancel;
    mEvents.Fire(DIID_DWebBrowserEvents2, DISPID_BEFORENAVIGATE2, args, 7);

    VariantClear(&urlValue);
    VariantClear(&frame);
    VariantClear(&headers);
    VariantClear(&flags);
    VariantClear(&postData);
    return cancel == VARIANT_FALSE;
}

void WebBrowserControl::FireNewWindow(const wxString& url)
{
    com::ComPtr<WebBrowserControl> keep(this);
    IDispatch* newBrowser = nullptr;
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT args[5] = {Value(VT_BYREF | VT_DISPATCH), Value(VT_BYREF | VT_BOOL), Value(VT_UI4),
                       BstrValue(wxString()), BstrValue(url)};
    args[0].ppdispVal = &newBrowser;
    args[1].pboolVal = &cancel;
    mEvents.Fire(DIID_DWebBrowserEvents2, DISPID_NEWWINDOW3, args, 5);
    VariantClear(&args[3]);
    VariantClear(&args[4]);
    // The web view opens no window whatever the answer; a browser object handed back is not used.
    if (newBrowser)
        newBrowser->Release();
}

void WebBrowserControl::ViewRenewed()
{
    // The container holds the control's window: it takes the new one (GetWindow) when told that the
    // view changed.
    com::ComPtr<WebBrowserControl> keep(this);
    const std::vector<com::ComPtr<IAdviseSink>> sinks = mAdviseSinks;
    for (const com::ComPtr<IAdviseSink>& sink : sinks)
        if (sink)
            sink->OnViewChange(DVASPECT_CONTENT, -1);
}

void WebBrowserControl::FireCommandState(BrowserCommand command, bool enable)
{
    com::ComPtr<WebBrowserControl> keep(this);
    VARIANT args[2] = {Value(VT_I4), Value(VT_BOOL)};
    args[0].lVal = command;
    args[1].boolVal = enable ? VARIANT_TRUE : VARIANT_FALSE;
    mEvents.Fire(DIID_DWebBrowserEvents2, DISPID_COMMANDSTATECHANGE, args, 2);
}

} // namespace bcx
