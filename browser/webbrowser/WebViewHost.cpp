#include "browser/webbrowser/WebViewHost.h"

#include <algorithm>
#include <cstdint>

#include <webkit2/webkit2.h>
#include <wx/log.h>
#include <wx/webview.h>

namespace bcx {
namespace {

// Loads the program started and that the web view has not reported yet.
const size_t kMaxExpected = 16;

// The native view's note of its last navigation action: started by the user's click or key, or not.
const char* const kGestureKey = "bcx-navigation-by-user";
enum : intptr_t { GestureUnknown = 0, GestureNo = 1, GestureYes = 2 };

// WebKit decides on every navigation before the toolkit's own handler turns it into the navigating
// event; this hook runs first in that emission and notes on the view whether a user gesture started it.
gboolean NoteNavigationAction(GSignalInvocationHint*, guint count, const GValue* values, gpointer)
{
    if (count < 3 || !G_VALUE_HOLDS_OBJECT(&values[0]) || !G_VALUE_HOLDS_OBJECT(&values[1]) ||
        !G_VALUE_HOLDS_ENUM(&values[2]))
        return TRUE;
    GObject* view = G_OBJECT(g_value_get_object(&values[0]));
    GObject* decision = G_OBJECT(g_value_get_object(&values[1]));
    if (!view || !WEBKIT_IS_NAVIGATION_POLICY_DECISION(decision) ||
        g_value_get_enum(&values[2]) != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION)
        return TRUE;
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    const bool byUser = action && webkit_navigation_action_is_user_gesture(action);
    g_object_set_data(view, kGestureKey, reinterpret_cast<gpointer>(byUser ? GestureYes : GestureNo));
    return TRUE;
}

// False when the view is not WebKit's.
bool WatchNavigationActions(wxWebView* view)
{
    if (!view || !WEBKIT_IS_WEB_VIEW(view->GetNativeBackend()))
        return false;
    static bool installed = false;
    if (!installed) {
        installed = true;
        g_signal_add_emission_hook(g_signal_lookup("decide-policy", WEBKIT_TYPE_WEB_VIEW), 0, NoteNavigationAction,
                                   nullptr, nullptr);
    }
    return true;
}

} // namespace

const char* WebViewHost::WrittenDocumentAddress()
{
    // A top-level blank page loaded by the program has an origin of its own that no web page shares.
    return "about:blank";
}

const char* WebViewHost::NoWindowScript()
{
    // A page that calls the real window.open takes the whole process down with it on this web view,
    // whatever the new-window handler does; so no page ever reaches it.
    return "(function(){var h=function(){return null;};"
           "try{Object.defineProperty(window,'open',{value:h,writable:false,configurable:false});}"
           "catch(e){window.open=h;}})();";
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
    if (!WatchNavigationActions(mView.get()))
        wxLogMessage(wxS("[browser] the web view does not tell clicks from scripts; nothing opens on the desktop"));
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
    if (!AllowNavigation(url, false))
        return;
    mView->LoadURL(url);
    ExpectReport(url);
}

void WebViewHost::ExpectReport(const wxString& requested)
{
    // The web view reports an address as it normalised it ("http://h" as "http://h/", other characters
    // than ASCII as %XX); right after a load is asked for, the view's current address is that form.
    wxString reported = mView ? mView->GetCurrentURL() : wxString();
    if (reported.empty())
        reported = requested;
    if (mExpected.size() >= kMaxExpected)
        mExpected.pop_front();
    mExpected.push_back(reported);
}

bool WebViewHost::IsExpectedReport(const wxString& url)
{
    // The view reports the loads in the order they were asked for; one it never reports (replaced
    // before it started) goes with the next one it does.
    auto found = std::find(mExpected.begin(), mExpected.end(), url);
    if (found == mExpected.end())
        return false;
    mExpected.erase(mExpected.begin(), found + 1);
    return true;
}

bool WebViewHost::AllowNavigation(const wxString& url, bool userGesture)
{
    if (mListener.navigating && !mListener.navigating(url, userGesture))
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
    if (mView)
        mView->Stop();
}

void WebViewHost::WriteDocument(const std::string& html)
{
    mPendingWrite = html;
    mHasPendingWrite = true;
    // Loaded from the event loop, not from inside the web view's own callbacks (a navigation being
    // decided). The load goes on by itself: nothing waits for it.
    if (mView && !mWriteQueued) {
        mWriteQueued = true;
        CallAfter(&WebViewHost::RunPendingWrite);
    }
}

void WebViewHost::RunPendingWrite()
{
    mWriteQueued = false;
    if (!mHasPendingWrite || !mView)
        return;
    mHasPendingWrite = false;
    wxString text = wxString::FromUTF8(mPendingWrite.data(), mPendingWrite.size());
    if (text.empty() && !mPendingWrite.empty())
        text = wxString::From8BitData(mPendingWrite.data(), mPendingWrite.size());
    mPendingWrite.clear();
    const wxString address = wxString::FromAscii(WrittenDocumentAddress());
    mView->SetPage(text, address);
    ExpectReport(address);
}

bool WebViewHost::TakeUserGesture()
{
    if (!mView)
        return false;
    void* backend = mView->GetNativeBackend();
    if (!WEBKIT_IS_WEB_VIEW(backend))
        return false;
    GObject* native = G_OBJECT(backend);
    const intptr_t note = reinterpret_cast<intptr_t>(g_object_get_data(native, kGestureKey));
    g_object_set_data(native, kGestureKey, reinterpret_cast<gpointer>(GestureUnknown));
    return note == GestureYes;
}

void WebViewHost::OnNavigating(wxWebViewEvent& event)
{
    const wxString url = event.GetURL();
    const bool userGesture = TakeUserGesture();
    if (!userGesture && IsExpectedReport(url))
        return;
    if (!AllowNavigation(url, userGesture))
        event.Veto();
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
