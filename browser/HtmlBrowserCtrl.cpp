#include "browser/HtmlBrowserCtrl.h"

#include "browser/StreamAdaptor.h"
#include "browser/com/WideText.h"
#include "browser/webbrowser/WebBrowserControl.h"

namespace {

// The class id, with our control entered into the class registry before the container creates it.
const CLSID& WebBrowserClass()
{
    bcx::WebBrowserControl::Register();
    return CLSID_WebBrowser;
}

bool Succeeded(HRESULT hr)
{
    return hr == S_OK;
}

} // namespace

wxBEGIN_EVENT_TABLE(HtmlBrowserCtrl, wxActiveXContainer)
wxEND_EVENT_TABLE()

HtmlBrowserCtrl::HtmlBrowserCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size, long style,
                                 const wxString& name)
    : wxActiveXContainer(parent, WebBrowserClass(), id, pos, size, style, name)
{
    SetupBrowser();
}

HtmlBrowserCtrl::~HtmlBrowserCtrl()
{
    if (mWebBrowser)
        mWebBrowser->Release();
    mWebBrowser = nullptr;
}

void HtmlBrowserCtrl::SetupBrowser()
{
    if (mWebBrowser)
        mWebBrowser->Release();
    mWebBrowser = nullptr;
    IUnknown* control = GetActiveXControl();
    if (!control || FAILED(control->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&mWebBrowser)))) {
        mWebBrowser = nullptr;
        return;
    }
    mWebBrowser->put_MenuBar(VARIANT_FALSE);
    mWebBrowser->put_AddressBar(VARIANT_FALSE);
    mWebBrowser->put_StatusBar(VARIANT_FALSE);
    mWebBrowser->put_ToolBar(FALSE);
    mWebBrowser->put_RegisterAsBrowser(VARIANT_TRUE);
    mWebBrowser->put_RegisterAsDropTarget(VARIANT_FALSE);
    BSTR blank = bcx::com::ToBstr(wxS("about:blank"));
    mWebBrowser->Navigate(blank, nullptr, nullptr, nullptr, nullptr);
    SysFreeString(blank);
}

void HtmlBrowserCtrl::LoadUrl(const wxString& url)
{
    if (!mWebBrowser)
        return;
    BSTR wide = bcx::com::ToBstr(url);
    VARIANT flags;
    VARIANT empty;
    VariantInit(&flags);
    VariantInit(&empty);
    flags.vt = VT_I2;
    flags.iVal = navNoReadFromCache;
    mWebBrowser->Navigate(wide, &flags, &empty, &empty, &empty);
    SysFreeString(wide);
}

bool HtmlBrowserCtrl::GoBack()
{
    return mWebBrowser && Succeeded(mWebBrowser->GoBack());
}

bool HtmlBrowserCtrl::GoForward()
{
    return mWebBrowser && Succeeded(mWebBrowser->GoForward());
}

bool HtmlBrowserCtrl::Stop()
{
    return mWebBrowser && Succeeded(mWebBrowser->Stop());
}

bool HtmlBrowserCtrl::LoadStream(StreamAdaptorBase* adaptor)
{
    if (!adaptor)
        return false;
    adaptor->SetPrefix("<html>");
    IDispatch* document = nullptr;
    if (!mWebBrowser || FAILED(mWebBrowser->get_Document(&document)) || !document) {
        adaptor->Release();
        return false;
    }
    IPersistStreamInit* persist = nullptr;
    if (FAILED(document->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist))) || !persist) {
        document->Release();
        adaptor->Release();
        return false;
    }
    bool result = SUCCEEDED(persist->InitNew());
    if (result)
        result = SUCCEEDED(persist->Load(adaptor));
    persist->Release();
    document->Release();
    adaptor->Release();
    return result;
}

bool HtmlBrowserCtrl::LoadStream(wxInputStream* stream)
{
    StreamAdaptorBase* adaptor = new InputStreamAdaptor(stream);
    adaptor->AddRef();
    return LoadStream(adaptor);
}
