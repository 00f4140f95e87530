#pragma once
// The toolkit's web view (WebKitGTK) as our web browser control drives it. The host creates the view,
// decides at the engine's own signals every navigation (reported before it starts, so that it can be
// refused, with whether the user's click started it) and every request for a new window (refused, and
// reported), has the engine's other defaults that act outside the page decided (EngineSignals.h),
// reports changes of the back/forward state, and shows HTML of the program's own as a document of its
// own.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>

#include <wx/event.h>
#include <wx/string.h>
#include <wx/weakref.h>
#include <wx/webview.h>

typedef struct _WebKitBackForwardListItem WebKitBackForwardListItem;

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
        // A navigation to url is about to start; false refuses it. userGesture: a real click (or key) of
        // the user in the page started it as a followed link, not a redirect; one click or key counts for
        // one navigation at most. Never for the navigations the program asks for.
        std::function<bool(const wxString& url, bool userGesture)> navigating;
        // A page asked for a new window for url (window.open in any frame, a link or form with a target
        // of its own). It never gets one, and url is not requested.
        std::function<void(const wxString& url)> newWindow;
        // Going back or forward became possible (enable) or impossible.
        std::function<void(BrowserCommand command, bool enable)> commandState;
        // The view was made anew (a page stopped for what it left in the program): View() is another
        // window from now on, and the one before is gone.
        std::function<void()> viewRenewed;
    };

    // Creates the view as a child of parent, with no page yet.
    WebViewHost(wxWindow* parent, Listener listener);
    ~WebViewHost() override;
    WebViewHost(const WebViewHost&) = delete;
    WebViewHost& operator=(const WebViewHost&) = delete;

    // Null once the toolkit has destroyed the view with its parent.
    wxWebView* View() const { return mView.get(); }

    // Asks the listener first (before returning), then loads url unless it was refused. fromServer: the
    // page is asked of its server, not shown from the engine's cache.
    void Navigate(const wxString& url, bool fromServer = false);
    // False when there is no history in that direction.
    bool GoBack();
    bool GoForward();
    void Stop();

    // Shows html (UTF-8) as a document of its own, loaded from the event loop under the address
    // WrittenDocumentAddress(), whose origin is unique: the page that was there goes, with its scripts.
    // The web view keeps no history entry for it: back and forward stay those of the page before. A later
    // navigation, or a later write, replaces a write that has not started yet.
    void WriteDocument(const std::string& html);
    static const char* WrittenDocumentAddress();

private:
    // The native view's signal handlers.
    friend struct NativeViewSignals;

    // Makes the view in parent and decides at its signals; DropView lets it go.
    void MakeView(wxWindow* parent);
    void DropView();
    // Makes the view anew in the same place, empty, without history: the engine lets go of what a page
    // left in a view's history only with the view. The program's latest load since the page was stopped
    // is made in the new view.
    void Renew();
    // Loads url in the view as asked for by the program (decided already).
    void Load(const wxString& url, bool fromServer);
    // Notes a load of the program in the view: kept for the new view when the page is stopped.
    void NoteLoad(const wxString& url, bool fromServer, const std::string* html);
    // historyMove: the engine goes back or forward in the view's history.
    bool DecideNavigation(const wxString& url, bool followedLink, bool historyMove);
    // The program goes back (or forward): the address of that entry, when the engine asks, is its own.
    void ExpectHistoryMove(bool forward);
    void EndHistoryMove();
    void RefuseNewWindow(const wxString& url);
    void OnLoadEnded(wxWebViewEvent& event);
    bool AllowNavigation(const wxString& url, bool userGesture);
    void LoadFromServer(const wxString& url);
    void ExpectReport(const wxString& requested);
    bool IsExpectedReport(const wxString& url);
    void CheckCommandState();
    void RunPendingWrite();

    wxWeakRef<wxWebView> mView;
    // The native view (WebKitWebView) while it lives; null when the view is not WebKit's.
    void* mNative = nullptr;
    // A real click or key of the user in the view that no navigation has counted yet.
    bool mUserInput = false;
    // The keys held down in the view (hardware key codes): their repeats are no new presses.
    std::set<unsigned> mHeldKeys;
    // The last press seen of each key and button, by the window system's event time: the same event
    // handed back by the engine, or any other that is not later (however many repeats came between), is
    // not a press again.
    class PressLog {
    public:
        enum Kind : unsigned { Key, Button };
        // False when a press of this key or button (kind, code) at this time or later was seen already.
        bool IsNew(Kind kind, unsigned code, uint32_t time);

    private:
        // At most one entry for each key code and button the window system has.
        std::map<std::pair<unsigned, unsigned>, uint32_t> mLast;
    };
    PressLog mPresses;
    // The entry the program went back or forward to (its address, the engine's item, and whether it has
    // become the current one), until the engine asks to decide it or another entry becomes the current
    // one (a move to an entry of the same document needs no decision).
    wxString mHistoryMove;
    WebKitBackForwardListItem* mHistoryMoveItem = nullptr;
    bool mHistoryMoveReached = false;
    Listener mListener;
    // The last back/forward state reported: -1 unknown, 0 disabled, 1 enabled.
    int mCanGoBack = -1;
    int mCanGoForward = -1;
    // A document that waits for the event loop.
    std::string mPendingWrite;
    bool mHasPendingWrite = false;
    bool mWriteQueued = false;
    // Loads the program started (already decided), oldest first, as the web view will report them.
    std::deque<wxString> mExpected;
    // The view is to be made anew (its page was stopped for what it left): the program's loads wait for
    // the new view.
    bool mRenewing = false;
    // The program's latest load since the view's page was stopped (an address, or a document of its
    // own), made again in the new view: the view it was asked of goes.
    struct ProgramLoad {
        enum Kind { None, Address, Document } kind = None;
        wxString address;
        bool fromServer = false;
        std::string html;
    };
    ProgramLoad mLoadSinceStop;
};

} // namespace bcx
