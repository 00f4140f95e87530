#include "browser/webbrowser/WebViewHost.h"

#include <algorithm>

#include <webkit2/webkit2.h>
#include <wx/log.h>
#include <wx/webview.h>

#include "browser/PageLog.h"
#include "browser/webbrowser/EngineMemory.h"
#include "browser/webbrowser/EngineSignals.h"
#include "browser/webbrowser/PageContext.h"
#include "browser/webbrowser/PageBounds.h"

namespace bcx {
namespace {

// Loads the program started and that the web view has not reported yet.
const size_t kMaxExpected = 16;

// The address a navigation action asks for; empty without one.
wxString ActionAddress(WebKitNavigationAction* action)
{
    WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    return uri ? wxString::FromUTF8(uri) : wxString();
}

} // namespace

// The host's handlers of the native view's signals; each gets the host as its data.
struct NativeViewSignals {
    static gboolean DecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                 gpointer host)
    {
        if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE)
            return FALSE;  // the engine's own: what it would save goes to the download refusal
        WebKitNavigationAction* action =
            webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        if (!AdmitAddressLength(view, action)) {
            webkit_policy_decision_ignore(decision);
            return TRUE;
        }
        const wxString url = ActionAddress(action);
        if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
            static_cast<WebViewHost*>(host)->RefuseNewWindow(url);
            webkit_policy_decision_ignore(decision);
            return TRUE;
        }
        // A link followed by a click or key, not a redirect: the engine marks a user gesture for about a
        // second after any click, for script-clicked links, frames and timers too.
        const bool followedLink = action &&
                                  webkit_navigation_action_get_navigation_type(action) ==
                                      WEBKIT_NAVIGATION_TYPE_LINK_CLICKED &&
                                  !webkit_navigation_action_is_redirect(action) &&
                                  webkit_navigation_action_is_user_gesture(action);
        const bool historyMove =
            action && webkit_navigation_action_get_navigation_type(action) == WEBKIT_NAVIGATION_TYPE_BACK_FORWARD;
        if (static_cast<WebViewHost*>(host)->DecideNavigation(url, followedLink, historyMove))
            webkit_policy_decision_use(decision);
        else
            webkit_policy_decision_ignore(decision);
        return TRUE;
    }

    // window.open (in any frame, document.open with three arguments too): no view is made, so nothing
    // opens and the address is not requested.
    static GtkWidget* Create(WebKitWebView*, WebKitNavigationAction* action, gpointer host)
    {
        static_cast<WebViewHost*>(host)->RefuseNewWindow(ActionAddress(action));
        return nullptr;
    }

    // Real input only: clicks and keys that a page's script makes never reach these. The engine hands a
    // key (or click) that the page left alone back to the view once the page's process has answered,
    // which may be after the key was released: that copy, the same event of the window system, is no
    // new press.
    static gboolean ButtonPressed(GtkWidget*, GdkEventButton* event, gpointer host)
    {
        WebViewHost* self = static_cast<WebViewHost*>(host);
        if (event && event->type == GDK_BUTTON_PRESS && self->mPresses.IsNew(WebViewHost::PressLog::Button, event->button, event->time))
            self->mUserInput = true;
        return FALSE;
    }

    // A key counts once per press: while it is held, the repeats the window system sends count for
    // nothing.
    static gboolean KeyPressed(GtkWidget*, GdkEventKey* event, gpointer host)
    {
        WebViewHost* self = static_cast<WebViewHost*>(host);
        if (event && self->mPresses.IsNew(WebViewHost::PressLog::Key, event->hardware_keycode, event->time) &&
            self->mHeldKeys.insert(event->hardware_keycode).second)
            self->mUserInput = true;
        return FALSE;
    }

    static gboolean KeyReleased(GtkWidget*, GdkEventKey* event, gpointer host)
    {
        if (event)
            static_cast<WebViewHost*>(host)->mHeldKeys.erase(event->hardware_keycode);
        return FALSE;
    }

    // The entry the program moved to became the current one, and then another did: the move is over,
    // whether or not the engine asked to decide it (it does not for an entry of the same document). The
    // engine makes the entry current before it asks.
    static void HistoryChanged(WebKitBackForwardList* list, WebKitBackForwardListItem*, gpointer, gpointer host)
    {
        WebViewHost* self = static_cast<WebViewHost*>(host);
        if (!self->mHistoryMoveItem)
            return;
        if (webkit_back_forward_list_get_current_item(list) == self->mHistoryMoveItem)
            self->mHistoryMoveReached = true;
        else if (self->mHistoryMoveReached)
            self->EndHistoryMove();
    }

    // A key released while the view had no focus sends the view no release.
    static gboolean FocusLeft(GtkWidget*, GdkEventFocus*, gpointer host)
    {
        static_cast<WebViewHost*>(host)->mHeldKeys.clear();
        return FALSE;
    }
};

bool WebViewHost::PressLog::IsNew(Kind kind, unsigned code, uint32_t time)
{
    const auto seen = mLast.emplace(std::make_pair(static_cast<unsigned>(kind), code), time);
    // Event times are milliseconds that wrap around after 49 days: later is up to 24 days ahead.
    if (!seen.second && static_cast<int32_t>(time - seen.first->second) <= 0)
        return false;
    seen.first->second = time;
    return true;
}

const char* WebViewHost::WrittenDocumentAddress()
{
    // A top-level blank page loaded by the program has an origin of its own that no web page shares.
    return "about:blank";
}

WebViewHost::WebViewHost(wxWindow* parent, Listener listener) : mListener(std::move(listener))
{
    MakeView(parent);
}

void WebViewHost::MakeView(wxWindow* parent)
{
    // The engine's share of the program's memory is counted from its first page on.
    StartCountingEngineMemory();
    // The program's context is made before the toolkit's view, which asks the engine for other things
    // first: the descriptors the engine opens when it starts are marked close-on-exec then.
    PageContext();
    wxWebView* view = wxWebView::New();
    mView = view;
    view->Create(parent, wxID_ANY, wxS(""), wxPoint(0, 0), parent->GetClientSize());
    // Decided here before any page loads: the toolkit's own handlers of these signals are set aside.
    void* native = mView->GetNativeBackend();
    if (DecideEngineDefaults(native)) {
        mNative = native;
        g_object_add_weak_pointer(G_OBJECT(native), &mNative);
        TakeOverSignal(native, "decide-policy", G_CALLBACK(NativeViewSignals::DecidePolicy), this);
        TakeOverSignal(native, "create", G_CALLBACK(NativeViewSignals::Create), this);
        g_signal_connect(native, "button-press-event", G_CALLBACK(NativeViewSignals::ButtonPressed), this);
        g_signal_connect(native, "key-press-event", G_CALLBACK(NativeViewSignals::KeyPressed), this);
        g_signal_connect(native, "key-release-event", G_CALLBACK(NativeViewSignals::KeyReleased), this);
        g_signal_connect(native, "focus-out-event", G_CALLBACK(NativeViewSignals::FocusLeft), this);
        g_signal_connect(webkit_web_view_get_back_forward_list(WEBKIT_WEB_VIEW(native)), "changed",
                         G_CALLBACK(NativeViewSignals::HistoryChanged), this);
        RenewViewWith(native, [this] {
            mRenewing = true;
            CallAfter(&WebViewHost::Renew);
        });
        if (webkit_web_view_get_context(WEBKIT_WEB_VIEW(native)) != PageContext())
            wxLogMessage(wxS("[browser] the web view is not on the program's own context: what its pages use is "
                             "not bounded"));
    } else {
        wxLogMessage(wxS("[browser] the web view is not WebKit's; pages are shown without being decided"));
    }
    mView->Bind(wxEVT_WEBVIEW_NAVIGATED, &WebViewHost::OnLoadEnded, this);
    mView->Bind(wxEVT_WEBVIEW_LOADED, &WebViewHost::OnLoadEnded, this);
    mView->Bind(wxEVT_WEBVIEW_ERROR, &WebViewHost::OnLoadEnded, this);
}

WebViewHost::~WebViewHost()
{
    EndHistoryMove();
    DropView();
}

void WebViewHost::DropView()
{
    if (mNative) {
        g_signal_handlers_disconnect_by_data(mNative, this);
        g_signal_handlers_disconnect_by_data(webkit_web_view_get_back_forward_list(WEBKIT_WEB_VIEW(mNative)), this);
        g_object_remove_weak_pointer(G_OBJECT(mNative), &mNative);
    }
    if (mView) {
        mView->Unbind(wxEVT_WEBVIEW_NAVIGATED, &WebViewHost::OnLoadEnded, this);
        mView->Unbind(wxEVT_WEBVIEW_LOADED, &WebViewHost::OnLoadEnded, this);
        mView->Unbind(wxEVT_WEBVIEW_ERROR, &WebViewHost::OnLoadEnded, this);
        mView->Destroy();
    }
}

void WebViewHost::Renew()
{
    mRenewing = false;
    wxWebView* old = mView.get();
    if (!old)
        return;
    wxWindow* parent = old->GetParent();
    const wxRect rect = old->GetRect();
    const bool shown = old->IsShown();
    DropView();
    mView = nullptr;
    mNative = nullptr;
    mUserInput = false;
    mHeldKeys.clear();
    EndHistoryMove();
    mExpected.clear();
    MakeView(parent);
    mView->SetSize(rect);
    mView->Show(shown);
    // What the page left went with the view.
    ReleaseEngineFreeMemory();
    // What the program asked for since the page was stopped is shown in the new view: a document still
    // waiting to be written was asked for last.
    ProgramLoad load = std::move(mLoadSinceStop);
    mLoadSinceStop = ProgramLoad();
    if (!mHasPendingWrite && load.kind == ProgramLoad::Document) {
        mPendingWrite = std::move(load.html);
        mHasPendingWrite = true;
    }
    if (mHasPendingWrite)
        RunPendingWrite();
    else if (load.kind == ProgramLoad::Address)
        Load(load.address, load.fromServer);
    CheckCommandState();
    if (mListener.viewRenewed)
        mListener.viewRenewed();
}

void WebViewHost::Navigate(const wxString& url, bool fromServer)
{
    if (!mView)
        return;
    // Asked for by the program: decided now, before the call returns, so that requests take effect in
    // the order they were made. The web view's own report of it later is not passed on again.
    if (!AllowNavigation(url, false))
        return;
    NoteLoad(url, fromServer, nullptr);
    // A view that is to be made anew loads nothing more: the new one loads it.
    if (!mRenewing)
        Load(url, fromServer);
}

void WebViewHost::Load(const wxString& url, bool fromServer)
{
    if (fromServer && mNative)
        LoadFromServer(url);
    else
        mView->LoadURL(url);
    ExpectReport(url);
}

void WebViewHost::NoteLoad(const wxString& url, bool fromServer, const std::string* html)
{
    // Once the page is stopped, the view may be made anew before it has shown what the program asks for.
    if (!mRenewing && !PageStopped(mNative)) {
        mLoadSinceStop = ProgramLoad();
        return;
    }
    mLoadSinceStop.kind = html ? ProgramLoad::Document : ProgramLoad::Address;
    mLoadSinceStop.address = url;
    mLoadSinceStop.fromServer = fromServer;
    mLoadSinceStop.html = html ? *html : std::string();
}

void WebViewHost::LoadFromServer(const wxString& url)
{
    // A request that says no-cache is answered by the server, not by a cache on the way. The engine's
    // request takes its address as ASCII: bytes above 0x7F are %-encoded (as the engine's own load does;
    // it decodes and converts a host), everything else is left to the engine, which mends the address as
    // its own load would (blanks around it, backslashes, ...).
    const wxScopedCharBuffer utf8 = url.utf8_str();
    std::string address;
    for (size_t i = 0; i < utf8.length(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8.data()[i]);
        if (c < 0x80) {
            address += static_cast<char>(c);
        } else {
            static const char kHex[] = "0123456789ABCDEF";
            address += '%';
            address += kHex[c >> 4];
            address += kHex[c & 0xF];
        }
    }
    WebKitURIRequest* request = webkit_uri_request_new(address.c_str());
    if (SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request)) {
        soup_message_headers_replace(headers, "Cache-Control", "no-cache");
        soup_message_headers_replace(headers, "Pragma", "no-cache");
    }
    ForgetCachedPages();
    webkit_web_view_load_request(WEBKIT_WEB_VIEW(mNative), request);
    g_object_unref(request);
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
    // A view to be made anew has no history left.
    if (!mView || mRenewing || !mView->CanGoBack())
        return false;
    ExpectHistoryMove(false);
    mView->GoBack();
    return true;
}

bool WebViewHost::GoForward()
{
    if (!mView || mRenewing || !mView->CanGoForward())
        return false;
    ExpectHistoryMove(true);
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
    // A view to be made anew writes nothing more: the new one is written.
    if (!mHasPendingWrite || !mView || mRenewing)
        return;
    mHasPendingWrite = false;
    const wxString address = wxString::FromAscii(WrittenDocumentAddress());
    NoteLoad(address, false, &mPendingWrite);
    wxString text = wxString::FromUTF8(mPendingWrite.data(), mPendingWrite.size());
    if (text.empty() && !mPendingWrite.empty())
        text = wxString::From8BitData(mPendingWrite.data(), mPendingWrite.size());
    mPendingWrite.clear();
    mView->SetPage(text, address);
    ExpectReport(address);
}

void WebViewHost::ExpectHistoryMove(bool forward)
{
    EndHistoryMove();
    WebKitBackForwardList* list = mNative ? webkit_web_view_get_back_forward_list(WEBKIT_WEB_VIEW(mNative)) : nullptr;
    WebKitBackForwardListItem* item =
        !list ? nullptr : forward ? webkit_back_forward_list_get_forward_item(list) : webkit_back_forward_list_get_back_item(list);
    if (const char* uri = item ? webkit_back_forward_list_item_get_uri(item) : nullptr) {
        mHistoryMove = wxString::FromUTF8(uri);
        mHistoryMoveItem = g_object_ref(item);
    }
}

void WebViewHost::EndHistoryMove()
{
    mHistoryMove.clear();
    mHistoryMoveReached = false;
    if (mHistoryMoveItem)
        g_object_unref(mHistoryMoveItem);
    mHistoryMoveItem = nullptr;
}

bool WebViewHost::DecideNavigation(const wxString& url, bool followedLink, bool historyMove)
{
    if (!(followedLink && mUserInput) && IsExpectedReport(url)) {
        if (mNative)
            NoteProgramLoad(mNative);
        return true;
    }
    // Back and forward asked for by the program are its own, also after a page was stopped (the engine
    // then loads the entry in a new process, as a navigation of no particular kind): they are decided
    // like its other navigations, not counted against the page. Whatever else the page asks for is the
    // page's, at that address too.
    if (!mHistoryMove.empty() && url == mHistoryMove && (historyMove || PageStopped(mNative))) {
        EndHistoryMove();
        return AllowNavigation(url, false);
    }
    // What a stopped page still had queued goes nowhere.
    if (PageStopped(mNative))
        return false;
    if (mNative && !AdmitPageNavigation(mNative, followedLink && mUserInput))
        return false;
    // One real click or key counts for the first followed link after it, and for no other navigation.
    const bool userGesture = followedLink && mUserInput;
    if (userGesture)
        mUserInput = false;
    PageNavigationDecision decision;
    if (AllowNavigation(url, userGesture))
        return true;
    // The listener logged why it refused; an address it carried out as asked (a built-in page shown, an
    // address opened on the desktop) is no refusal.
    if (!decision.CarriedOut())
        NoteRefusal(mNative, wxString());
    return false;
}

void WebViewHost::RefuseNewWindow(const wxString& url)
{
    // Only the native view's signals come here.
    if (PageStopped(mNative))
        return;
    NoteRefusal(mNative, wxS("new window refused: ") + ForLog(url));
    if (mListener.newWindow)
        mListener.newWindow(url);
}

void WebViewHost::OnLoadEnded(wxWebViewEvent& event)
{
    event.Skip();
    // The view has gone on from the program's load (or failed it): it is not made again in a new view.
    if (!mRenewing)
        mLoadSinceStop = ProgramLoad();
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
