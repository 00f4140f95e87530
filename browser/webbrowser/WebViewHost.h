#pragma once
// The toolkit's web view (WebKitGTK) as our web browser control drives it. The host creates the view,
// keeps every page from opening windows of its own, reports navigations before they start (so that
// they can be refused), new-window requests and changes of the back/forward state, and writes HTML
// into the current page without navigating.

#include <deque>
#include <functional>
#include <string>

#include <wx/event.h>
#include <wx/string.h>
#include <wx/weakref.h>
#include <wx/webview.h>

namespace bcx {

// Commands of the back/forward state changes, numbered as the browser's command-state events number
// them.
enum BrowserCommand : int {
    BrowserCommandForward = 1,
    BrowserCommandBack = 2,
};

class WebViewHost : public wxEvtHandler {
public:
    struct Listener {
        // A navigation to url is about to start; false refuses it.
        std::function<bool(const wxString& url)> navigating;
        // A page asked for a new window for url (a link with a target of its own). It never gets one.
        std::function<void(const wxString& url)> newWindow;
        // Going back or forward became possible (enable) or impossible.
        std::function<void(BrowserCommand command, bool enable)> commandState;
    };

    // Creates the view as a child of parent, with no page yet.
    WebViewHost(wxWindow* parent, Listener listener);
    ~WebViewHost() override;
    WebViewHost(const WebViewHost&) = delete;
    WebViewHost& operator=(const WebViewHost&) = delete;

    // Null once the toolkit has destroyed the view with its parent.
    wxWebView* View() const { return mView.get(); }

    // Asks the listener first (before returning), then loads url unless it was refused.
    void Navigate(const wxString& url);
    // False when there is no history in that direction.
    bool GoBack();
    bool GoForward();
    void Stop();

    // Replaces the current page's document with html (UTF-8): document.open(), write(), close() in the
    // page. No navigation takes place: the address and the history stay. While a page the view was sent
    // to has not arrived yet, the write waits for it.
    void WriteDocument(const std::string& html);

    // The script that every page runs before its own: window.open opens nothing and returns null.
    static const char* NoWindowScript();
    // text as a JavaScript string literal (quoted; every character outside printable ASCII escaped).
    static std::string JsStringLiteral(const wxString& text);

private:
    void OnNavigating(wxWebViewEvent& event);
    void OnNewWindow(wxWebViewEvent& event);
    void OnLoadEnded(wxWebViewEvent& event);
    bool AllowNavigation(const wxString& url);
    void CheckCommandState();
    void FlushPendingWrite();
    void RunPendingWrite();

    wxWeakRef<wxWebView> mView;
    Listener mListener;
    // The last back/forward state reported: -1 unknown, 0 disabled, 1 enabled.
    int mCanGoBack = -1;
    int mCanGoForward = -1;
    // A page the view was sent to has not replaced the current one yet: a document written now would be
    // lost.
    bool mAwaitingCommit = false;
    // A document that waits for that.
    std::string mPendingWrite;
    bool mHasPendingWrite = false;
    bool mWriteQueued = false;
    std::deque<wxString> mApproved;
};

} // namespace bcx
