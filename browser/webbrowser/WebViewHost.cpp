#include "browser/webbrowser/WebViewHost.h"

#include <wx/log.h>
#include <wx/webview.h>

namespace bcx {
namespace {

// Navigations the program started and that the web view has not reported yet.
const size_t kMaxApproved = 16;

} // namespace

const char* WebViewHost::NoWindowScript()
{
    // A page that calls the real window.open takes the whole process down with it on this web view,
    // whatever the new-window handler does; so no page ever reaches it.
    return "(function(){var h=function(){return null;};"
           "try{Object.defineProperty(window,'open',{value:h,writable:false,configurable:false});}"
           "catch(e){window.open=h;}})();";
}

std::string WebViewHost::JsStringLiteral(const wxString& text)
{
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    auto escape = [&out](unsigned unit) {
        out += "\\u";
        out += kHex[(unit >> 12) & 0xF];
        out += kHex[(unit >> 8) & 0xF];
        out += kHex[(unit >> 4) & 0xF];
        out += kHex[unit & 0xF];
    };
    for (wxUniChar c : text) {
        const unsigned code = c.GetValue();
        if (code >= 0x20 && code < 0x7F && code != '"' && code != '\\' && code != '<' && code != '>') {
            out += static_cast<char>(code);
        } else if (code >= 0x10000) {
            // Outside the basic plane: a surrogate pair.
            escape(0xD800 + ((code - 0x10000) >> 10));
            escape(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            escape(code);
        }
    }
    out += '"';
    return out;
}

WebViewHost::WebViewHost(wxWindow* parent, Listener listener) : mListener(std::move(listener))
{
    wxWebView* view = wxWebView::New();
    mView = view;
    // The script must be in place before the first page loads.
    view->Create(parent, wxID_ANY, wxS(""), wxPoint(0, 0), parent->GetClientSize());
    mView->EnableContextMenu(false);
    if (!mView->AddUserScript(wxString::FromAscii(NoWindowScript())))
        wxLogMessage(wxS("[browser] the web view takes no user scripts; pages may not open windows"));
    mView->Bind(wxEVT_WEBVIEW_NAVIGATING, &WebViewHost::OnNavigating, this);
    mView->Bind(wxEVT_WEBVIEW_NEWWINDOW, &WebViewHost::OnNewWindow, this);
    mView->Bind(wxEVT_WEBVIEW_NAVIGATED, &WebViewHost::OnLoadEnded, this);
    mView->Bind(wxEVT_WEBVIEW_LOADED, &WebViewHost::OnLoadEnded, this);
    mView->Bind(wxEVT_WEBVIEW_ERROR, &WebViewHost::OnLoadEnded, this);
}

WebViewHost::~WebViewHost()
{
    if (mView) {
        mView->Unbind(wxEVT_WEBVIEW_NAVIGATING, &WebViewHost::OnNavigating, this);
        mView->Unbind(wxEVT_WEBVIEW_NEWWINDOW, &WebViewHost::OnNewWindow, this);
        mView->Unbind(wxEVT_WEBVIEW_NAVIGATED, &WebViewHost::OnLoadEnded, this);
        mView->Unbind(wxEVT_WEBVIEW_LOADED, &WebViewHost::OnLoadEnded, this);
        mView->Unbind(wxEVT_WEBVIEW_ERROR, &WebViewHost::OnLoadEnded, this);
        mView->Destroy();
    }
}

void WebViewHost::Navigate(const wxString& url)
{
    if (!mView)
        return;
    // Asked for by the program: decided now, before the call returns, so that requests take effect in
    // the order they were made. The web view's own report of it later is not passed on again.
    if (!AllowNavigation(url))
        return;
    if (mApproved.size() >= kMaxApproved)
        mApproved.pop_front();
    mApproved.push_back(url);
    mAwaitingCommit = true;
    mView->LoadURL(url);
}

bool WebViewHost::AllowNavigation(const wxString& url)
{
    if (mListener.navigating && !mListener.navigating(url))
        return false;
    // The new page replaces whatever document was still waiting to be written.
    mHasPendingWrite = false;
    mPendingWrite.clear();
    return true;
}

bool WebViewHost::GoBack()
{
    if (!mView || !mView->CanGoBack())
        return false;
    mView->GoBack();
    return true;
}

bool WebViewHost::GoForward()
{
    if (!mView || !mView->CanGoForward())
        return false;
    mView->GoForward();
    return true;
}

void WebViewHost::Stop()
{
    if (!mView)
        return;
    mView->Stop();
    // A stopped load may end without an event.
    mAwaitingCommit = false;
    FlushPendingWrite();
}

void WebViewHost::WriteDocument(const std::string& html)
{
    mPendingWrite = html;
    mHasPendingWrite = true;
    if (!mView)
        return;
    if (!mAwaitingCommit)
        FlushPendingWrite();
}

void WebViewHost::FlushPendingWrite()
{
    // Written from the event loop, not from inside the web view's own callbacks (a navigation being
    // decided), and synchronously: a script still running when the view goes away would report to a
    // destroyed view.
    if (!mHasPendingWrite || mWriteQueued)
        return;
    mWriteQueued = true;
    CallAfter(&WebViewHost::RunPendingWrite);
}

void WebViewHost::RunPendingWrite()
{
    mWriteQueued = false;
    if (!mHasPendingWrite || mAwaitingCommit || !mView)
        return;
    mHasPendingWrite = false;
    wxString text = wxString::FromUTF8(mPendingWrite.data(), mPendingWrite.size());
    if (text.empty() && !mPendingWrite.empty())
        text = wxString::From8BitData(mPendingWrite.data(), mPendingWrite.size());
    mPendingWrite.clear();
    // The window outlives document.open(), so the window.open guard goes in first: pages written into a
    // document that was never loaded (about:blank) get no user scripts.
    const std::string script = std::string(NoWindowScript()) + "document.open();document.write(" +
                               JsStringLiteral(text) + ");document.close();";
    mView->RunScript(wxString::FromAscii(script.c_str()));
}

void WebViewHost::OnNavigating(wxWebViewEvent& event)
{
    const wxString url = event.GetURL();
    if (!mApproved.empty() && mApproved.front() == url) {
        mApproved.pop_front();
        return;
    }
    if (!AllowNavigation(url)) {
        event.Veto();
        return;
    }
    mAwaitingCommit = true;
}

void WebViewHost::OnNewWindow(wxWebViewEvent& event)
{
    if (mListener.newWindow)
        mListener.newWindow(event.GetURL());
}

void WebViewHost::OnLoadEnded(wxWebViewEvent& event)
{
    event.Skip();
    CheckCommandState();
    mAwaitingCommit = false;
    FlushPendingWrite();
}

void WebViewHost::CheckCommandState()
{
    const int back = mView->CanGoBack() ? 1 : 0;
    const int forward = mView->CanGoForward() ? 1 : 0;
    if (back != mCanGoBack) {
        mCanGoBack = back;
        if (mListener.commandState)
            mListener.commandState(BrowserCommandBack, back != 0);
    }
    if (forward != mCanGoForward) {
        mCanGoForward = forward;
        if (mListener.commandState)
            mListener.commandState(BrowserCommandForward, forward != 0);
    }
}

} // namespace bcx
