#include "browser/webbrowser/PageHistory.h"

#include <unistd.h>
#include <webkit2/webkit2.h>

#include "browser/PageLog.h"
#include "browser/RecentEvents.h"
#include "browser/webbrowser/EngineSignals.h"
#include "browser/webbrowser/PageContext.h"
#include "platform/ProgramClock.h"

namespace bcx {
namespace {

// A view's PageNavigations.
const char* const kNavigationsKey = "bcx-navigations";

// No ordinary page comes near these: the engine itself lets a page change its history about 100 times in
// 30 seconds by script. The engine keeps some kilobytes in the program for every navigation it carried
// out, for as long as the program runs: a page that stays under the rate is still bounded
// (HistoryLimits::maxNavigationsPerPage).
const size_t kMaxNavigationsInWindow = 200;
const uint32_t kNavigationWindowMs = 10000;
// Of an address too long, its start is logged.
const size_t kAddressShown = 200;

HistoryLimits& Limits()
{
    static HistoryLimits limits;
    return limits;
}

// What one view's page had navigated, and what was logged about it.
struct PageNavigations {
    explicit PageNavigations(WebKitWebView* v) : view(v) {}
    ~PageNavigations()
    {
        if (checking)
            g_source_remove(checking);
    }
    PageNavigations(const PageNavigations&) = delete;
    PageNavigations& operator=(const PageNavigations&) = delete;

    WebKitWebView* const view;
    RecentEvents<kMaxNavigationsInWindow> recent{kNavigationWindowMs};
    unsigned sincePageStart = 0;
    // A refused navigation of the page shown was logged.
    bool refusalLogged = false;
    // The history's check that waits for the event loop; 0 when none.
    guint checking = 0;
    // The least of the program's resident bytes at the history's additions since the program last loaded a
    // page or stopped one; 0 when not taken yet.
    size_t leastResident = 0;
};

PageNavigations* NavigationsOf(gpointer view)
{
    return static_cast<PageNavigations*>(g_object_get_data(G_OBJECT(view), kNavigationsKey));
}

wxString PageAddress(WebKitWebView* view)
{
    const char* uri = webkit_web_view_get_uri(view);
    return uri ? ForLog(wxString::FromUTF8(uri)) : wxString();
}

// A refused navigation is counted every time; a line is logged once for the page shown.
void RefuseNavigation(PageNavigations& navigations, const wxString& line)
{
    const bool first = !navigations.refusalLogged;
    navigations.refusalLogged = true;
    NoteRefusal(navigations.view, first ? line : wxString());
}

// A new page starts with a clean slate.
void ForgetNavigations(WebKitWebView* view, WebKitLoadEvent event, gpointer)
{
    PageNavigations* navigations = NavigationsOf(view);
    if (event != WEBKIT_LOAD_COMMITTED || !navigations)
        return;
    navigations->recent.Clear();
    navigations->sincePageStart = 0;
    navigations->refusalLogged = false;
}

// The engine tells nothing of what an entry holds (its own writing out of the history takes a hundred
// times the size of a state object), and an entry it is made to forget (a restored session) stays in the
// program for as long as the view lives; it frees an entry only when its list drops it by itself (past a
// hundred entries, or forward ones on a new navigation). So the program's own memory tells, and the page
// that makes it grow goes: a page is stopped once the program holds more than the limit above the least
// it held at any addition to the history since the program last loaded a page, the user last clicked a
// link, or a page was stopped (the program may well have grown for reasons of its own over hours).
gboolean CheckHistory(gpointer data)
{
    PageNavigations* navigations = static_cast<PageNavigations*>(data);
    navigations->checking = 0;
    const size_t resident = static_cast<size_t>(ResidentBytes(getpid()));
    if (navigations->leastResident == 0 || resident < navigations->leastResident)
        navigations->leastResident = resident;
    const size_t limit = Limits().maxHistoryGrowthBytes;
    if (PageStopped(navigations->view) || resident - navigations->leastResident <= limit)
        return G_SOURCE_REMOVE;
    // Taken afresh at the next addition: what the engine keeps of this page is not the next one's.
    navigations->leastResident = 0;
    StopPage(navigations->view, wxString::Format(wxS("the program grew by more than %u MiB while its history grew"),
                                                 static_cast<unsigned>(limit >> 20)));
    return G_SOURCE_REMOVE;
}

// Looked at from the event loop before anything else the page sent, once for however many additions came
// before: not inside the engine's own change of its list.
void HistoryChanged(WebKitBackForwardList*, WebKitBackForwardListItem* added, gpointer, gpointer data)
{
    PageNavigations* navigations = static_cast<PageNavigations*>(data);
    if (added && !navigations->checking)
        navigations->checking = g_idle_add_full(G_PRIORITY_HIGH, CheckHistory, navigations, nullptr);
}

} // namespace

void NoteProgramLoad(gpointer view)
{
    if (PageNavigations* navigations = NavigationsOf(view))
        navigations->leastResident = 0;
}

void SetHistoryLimits(const HistoryLimits& limits)
{
    Limits() = limits;
}

void BoundPageHistory(gpointer view)
{
    if (!WEBKIT_IS_WEB_VIEW(view))
        return;
    auto* navigations = new PageNavigations(WEBKIT_WEB_VIEW(view));
    g_object_set_data_full(G_OBJECT(view), kNavigationsKey, navigations,
                           [](gpointer n) { delete static_cast<PageNavigations*>(n); });
    g_signal_connect(view, "load-changed", G_CALLBACK(ForgetNavigations), nullptr);
    // The list lives as long as its view.
    g_signal_connect(webkit_web_view_get_back_forward_list(WEBKIT_WEB_VIEW(view)), "changed",
                     G_CALLBACK(HistoryChanged), navigations);
}

bool AdmitAddressLength(gpointer view, WebKitNavigationAction* action)
{
    WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    const size_t maxLength = Limits().maxAddressLength;
    if (!uri || strnlen(uri, maxLength + 1) <= maxLength)
        return true;
    // Looked at before the address is copied: the engine keeps a copy of what it was asked for, and
    // carries out a same-document navigation even when it is refused, so the page goes at once.
    if (!PageStopped(view))
        StopPage(view, wxString::Format(wxS("it asked for an address longer than %u bytes: "),
                                        static_cast<unsigned>(maxLength)) +
                           ForLog(wxString::FromUTF8(uri, strnlen(uri, kAddressShown))));
    return false;
}

bool AdmitPageNavigation(gpointer view, bool clicked)
{
    PageNavigations* navigations = NavigationsOf(view);
    if (!navigations)
        return true;
    const unsigned maxPerPage = Limits().maxNavigationsPerPage;
    if (navigations->sincePageStart >= maxPerPage) {
        RefuseNavigation(*navigations,
                         wxString::Format(wxS("navigations refused: more than %u since the page started: "), maxPerPage) +
                             PageAddress(navigations->view));
        return false;
    }
    if (!navigations->recent.Admit(ProgramClock::Now())) {
        RefuseNavigation(*navigations, wxString::Format(wxS("navigations refused: more than %u within %u seconds: "),
                                                        static_cast<unsigned>(kMaxNavigationsInWindow),
                                                        static_cast<unsigned>(kNavigationWindowMs / 1000)) +
                                           PageAddress(navigations->view));
        return false;
    }
    ++navigations->sincePageStart;
    if (clicked)
        NoteProgramLoad(view);
    return true;
}

} // namespace bcx
