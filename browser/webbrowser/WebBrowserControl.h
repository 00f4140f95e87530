#pragma once
// Our web browser control, the class behind CLSID_WebBrowser: the browser interface (navigate, back,
// forward, stop, the current document), in-place activation inside a container window, type
// information for its default and event interfaces, and the events BeforeNavigate2, NewWindow3 and
// CommandStateChange fired to the container's sinks. The page itself is the toolkit's web view, created
// as a child of the container window when the control is activated in place.

#include <memory>
#include <string>
#include <vector>

#include "browser/com/ConnectionPoints.h"
#include "browser/com/Object.h"
#include "browser/webbrowser/WebViewHost.h"

namespace bcx {

class WebBrowserControl
    : public com::ComObject<IWebBrowser2, IOleObject, IOleInPlaceObject, IProvideClassInfo,
                            IConnectionPointContainer> {
public:
    WebBrowserControl();

    // Enters the class into the class registry (once; later calls do nothing).
    static void Register();

    // The toolkit view while the control is active in place; null otherwise.
    WebViewHost* Host() const { return mHost.get(); }

    // Shows html as a document of its own in place of the current page (see WebViewHost::WriteDocument).
    // False without a view.
    bool WriteDocument(const std::string& html);

    // IDispatch (the control is driven through its interface, not by name).
    HRESULT GetTypeInfoCount(UINT* count) override;
    HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** out) override;
    HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    HRESULT Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, UINT* argError) override;

    // IWebBrowser2
    HRESULT GoBack() override;
    HRESULT GoForward() override;
    HRESULT Stop() override;
    HRESULT Navigate(BSTR url, VARIANT* flags, VARIANT* targetFrame, VARIANT* postData, VARIANT* headers) override;
    HRESULT get_Document(IDispatch** out) override;
    HRESULT put_MenuBar(VARIANT_BOOL value) override;
    HRESULT put_AddressBar(VARIANT_BOOL value) override;
    HRESULT put_StatusBar(VARIANT_BOOL value) override;
    HRESULT put_ToolBar(int value) override;
    HRESULT put_RegisterAsBrowser(VARIANT_BOOL value) override;
    HRESULT put_RegisterAsDropTarget(VARIANT_BOOL value) override;

    // IOleObject
    HRESULT SetClientSite(IOleClientSite* site) override;
    HRESULT GetClientSite(IOleClientSite** out) override;
    HRESULT SetHostNames(LPCOLESTR containerApp, LPCOLESTR containerObject) override;
    HRESULT Close(DWORD saveOption) override;
    HRESULT DoVerb(LONG verb, MSG* msg, IOleClientSite* site, LONG index, HWND parent, LPCRECT posRect) override;
    HRESULT SetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT GetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT Advise(IAdviseSink* sink, DWORD* cookie) override;
    HRESULT Unadvise(DWORD cookie) override;
    HRESULT GetMiscStatus(DWORD aspect, DWORD* status) override;

    // IOleWindow, IOleInPlaceObject
    HRESULT GetWindow(HWND* out) override;
    HRESULT ContextSensitiveHelp(BOOL enterMode) override;
    HRESULT InPlaceDeactivate() override;
    HRESULT UIDeactivate() override;
    HRESULT SetObjectRects(LPCRECT posRect, LPCRECT clipRect) override;
    HRESULT ReactivateAndUndo() override;

    // IProvideClassInfo
    HRESULT GetClassInfo(ITypeInfo** out) override;

    // IConnectionPointContainer
    HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;

protected:
    ~WebBrowserControl() override;
    void* FindInterface(REFIID iid) override;

private:
    bool Activate(HWND parent, LPCRECT posRect);
    bool FireBeforeNavigate(const wxString& url, bool userGesture);
    void FireNewWindow(const wxString& url);
    void FireCommandState(BrowserCommand command, bool enable);
    // The host made its view anew: the advise sinks are told that the view changed.
    void ViewRenewed();

    com::ComPtr<IOleClientSite> mSite;
    std::vector<com::ComPtr<IAdviseSink>> mAdviseSinks;  // cookie = index + 1; released entries are empty
    com::ConnectionPoints mEvents;
    std::unique_ptr<WebViewHost> mHost;
    SIZEL mExtent = {0, 0};
    bool mClosed = false;
};

} // namespace bcx
