#include "browser/webbrowser/PageBounds.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include <webkit2/webkit2.h>

#include "browser/PageLog.h"
#include "browser/webbrowser/EngineMemory.h"
#include "browser/webbrowser/EngineSignals.h"
#include "platform/ProgramClock.h"

namespace bcx {
namespace {

// A view's BoundedPage.
const char* const kBoundedPageKey = "bcx-bounded-page";
// Of an address too long, its start is logged.
const size_t kAddressShown = 200;

// The engine's share of the program's memory is looked at every second, and every tenth of a second while
// it stands more than half the bound above the least, or grew by more than kFastGrowthBytes since the
// last look; at once after an addition to a view's history.
const guint kLookMs = 1000;
const guint kFastLookMs = 100;
const int64_t kFastGrowthBytes = 16 << 20;
// A page is charged only on a share counted with the C library's allocator counted whole, which is done
// again only once the share has grown by this much since.
const int64_t kRecountBytes = 8 << 20;
const int64_t kMiB = 1 << 20;

PageBoundLimits& Limits()
{
    static PageBoundLimits limits;
    return limits;
}

// What one view's page had navigated, and what was logged about it.
struct BoundedPage {
    explicit BoundedPage(WebKitWebView* v) : view(v) {}
    ~BoundedPage();
    BoundedPage(const BoundedPage&) = delete;
    BoundedPage& operator=(const BoundedPage&) = delete;

    WebKitWebView* const view;
    // Makes the view anew; null when nothing does.
    std::function<void()> renew;
    // Navigations the page may still make at once; grows back at the admitted rate.
    double allowance = Limits().navigationBurst;
    uint32_t allowanceAt = ProgramClock::Now();
    // A refused navigation of the page shown was logged.
    bool refusalLogged = false;
    // The look that waits for the event loop after an addition to the history; 0 when none.
    guint checking = 0;
    // When the page last did something the program saw (a navigation, a load, a history change), in the
    // order of such events in all views: the page that grew the engine's share is the latest.
    uint64_t activity = 0;
};

// The views whose pages are looked at, and what the engine's share of the program's memory was.
struct EngineWatch {
    std::vector<BoundedPage*> views;
    // The least share since the baseline was last taken anew; INT64_MAX when it is taken at the next look.
    int64_t least = INT64_MAX;
    int64_t last = 0;
    // The share last counted whole for a decision; INT64_MIN when none since the baseline was taken.
    int64_t counted = INT64_MIN;
    guint source = 0;
    uint64_t events = 0;
};

EngineWatch& TheWatch()
{
    static EngineWatch watch;
    return watch;
}

BoundedPage::~BoundedPage()
{
    if (checking)
        g_source_remove(checking);
    EngineWatch& watch = TheWatch();
    watch.views.erase(std::remove(watch.views.begin(), watch.views.end(), this), watch.views.end());
    if (watch.views.empty() && watch.source) {
        g_source_remove(watch.source);
        watch.source = 0;
    }
}

BoundedPage* NavigationsOf(gpointer view)
{
    return static_cast<BoundedPage*>(g_object_get_data(G_OBJECT(view), kBoundedPageKey));
}

void NoteActivity(BoundedPage& navigations)
{
    navigations.activity = ++TheWatch().events;
}

wxString PageAddress(WebKitWebView* view)
{
    const char* uri = webkit_web_view_get_uri(view);
    return uri ? ForLog(wxString::FromUTF8(uri)) : wxString();
}

// A refused navigation is counted every time; a line is logged once for the page shown.
void RefuseNavigation(BoundedPage& navigations, const wxString& line)
{
    const bool first = !navigations.refusalLogged;
    navigations.refusalLogged = true;
    NoteRefusal(navigations.view, first ? line : wxString());
}

// Grows back at the admitted rate up to the burst; a clock set back counts as a long time.
void Replenish(BoundedPage& navigations, uint32_t now)
{
    const PageBoundLimits& limits = Limits();
    const double seconds = static_cast<uint32_t>(now - navigations.allowanceAt) / 1000.0;
    navigations.allowanceAt = now;
    navigations.allowance =
        std::min<double>(limits.navigationBurst, navigations.allowance + seconds * limits.navigationsPerSecond);
}

// A fresh burst: the program loaded a page, or the user clicked, typed or wheeled in the view.
void StartAfresh(BoundedPage& navigations)
{
    navigations.allowance = Limits().navigationBurst;
    navigations.allowanceAt = ProgramClock::Now();
    navigations.refusalLogged = false;
}

// A real click, key or wheel step in the view (a page's script makes none of them): a page may answer the
// user's scrolling with a navigation (a hash for the article shown) as fast as the user scrolls.
gboolean UserInput(GtkWidget*, GdkEvent*, gpointer data)
{
    StartAfresh(*static_cast<BoundedPage*>(data));
    return FALSE;
}

// A new document: a refusal of its navigations is logged again.
void PageEvent(WebKitWebView*, WebKitLoadEvent event, gpointer data)
{
    BoundedPage* navigations = static_cast<BoundedPage*>(data);
    NoteActivity(*navigations);
    if (event == WEBKIT_LOAD_COMMITTED)
        navigations->refusalLogged = false;
}

// The page the engine's growth is charged to: of the pages not stopped, the one that last did something
// the program saw. Null when there is none.
BoundedPage* LatestPage()
{
    BoundedPage* latest = nullptr;
    for (BoundedPage* navigations : TheWatch().views)
        if (!PageStopped(navigations->view) && (!latest || navigations->activity > latest->activity))
            latest = navigations;
    return latest;
}

void ScheduleLook(guint ms);

// The engine holds what a page handed it (its history's entries, its frames' names) in the program for as
// long as the view lives: a page that made it grow past the bound is stopped, and its view made anew,
// with what the page left. The baseline is then taken afresh.
void LookAtEngine()
{
    EngineWatch& watch = TheWatch();
    int64_t share = EngineShareBytes();
    const int64_t limit = static_cast<int64_t>(Limits().maxEngineGrowthBytes);
    // What the C library's allocator took since its last whole count in mapped blocks and other threads'
    // arenas is seen only when it is counted whole, which is too costly for every look: a page is charged
    // on a share counted so.
    bool decided = false;
    if (watch.least != INT64_MAX && share - watch.least > limit &&
        (watch.counted == INT64_MIN || share >= watch.counted + kRecountBytes)) {
        share = CountedEngineShareBytes();
        watch.counted = share;
        decided = true;
    }
    watch.least = std::min(watch.least, share);
    if (decided && share - watch.least > limit) {
        if (BoundedPage* page = LatestPage()) {
            StopPage(page->view,
                     wxString::Format(wxS("the web engine held %u MiB more of the program's memory for it (limit %u MiB)"),
                                      static_cast<unsigned>((share - watch.least) / kMiB),
                                      static_cast<unsigned>(limit / kMiB)));
            if (page->renew)
                page->renew();
        }
        watch.least = INT64_MAX;
        watch.counted = INT64_MIN;
    }
    const bool soon = watch.least != INT64_MAX && (share - watch.least > limit / 2 || share > watch.last + kFastGrowthBytes);
    watch.last = share;
    if (!watch.views.empty())
        ScheduleLook(soon ? kFastLookMs : kLookMs);
}

gboolean Look(gpointer)
{
    TheWatch().source = 0;
    LookAtEngine();
    return G_SOURCE_REMOVE;
}

void ScheduleLook(guint ms)
{
    EngineWatch& watch = TheWatch();
    if (watch.source)
        g_source_remove(watch.source);
    watch.source = g_timeout_add(ms, Look, nullptr);
}

// Looked at from the event loop before anything else the page sent, once for however many additions came
// before: not inside the engine's own change of its list.
gboolean CheckHistory(gpointer data)
{
    static_cast<BoundedPage*>(data)->checking = 0;
    LookAtEngine();
    return G_SOURCE_REMOVE;
}

void HistoryChanged(WebKitBackForwardList*, WebKitBackForwardListItem* added, gpointer, gpointer data)
{
    BoundedPage* navigations = static_cast<BoundedPage*>(data);
    NoteActivity(*navigations);
    if (added && !navigations->checking)
        navigations->checking = g_idle_add_full(G_PRIORITY_HIGH, CheckHistory, navigations, nullptr);
}

} // namespace

void NoteProgramLoad(gpointer view)
{
    BoundedPage* navigations = NavigationsOf(view);
    if (!navigations)
        return;
    StartAfresh(*navigations);
    NoteActivity(*navigations);
    TheWatch().least = INT64_MAX;
    TheWatch().counted = INT64_MIN;
}

void SetPageBoundLimits(const PageBoundLimits& limits)
{
    Limits() = limits;
    for (BoundedPage* navigations : TheWatch().views)
        navigations->allowance = std::min<double>(navigations->allowance, limits.navigationBurst);
}

void BoundPage(gpointer view)
{
    if (!WEBKIT_IS_WEB_VIEW(view))
        return;
    auto* navigations = new BoundedPage(WEBKIT_WEB_VIEW(view));
    g_object_set_data_full(G_OBJECT(view), kBoundedPageKey, navigations,
                           [](gpointer n) { delete static_cast<BoundedPage*>(n); });
    g_signal_connect(view, "load-changed", G_CALLBACK(PageEvent), navigations);
    g_signal_connect(view, "button-press-event", G_CALLBACK(UserInput), navigations);
    g_signal_connect(view, "key-press-event", G_CALLBACK(UserInput), navigations);
    g_signal_connect(view, "scroll-event", G_CALLBACK(UserInput), navigations);
    // The list lives as long as its view.
    g_signal_connect(webkit_web_view_get_back_forward_list(WEBKIT_WEB_VIEW(view)), "changed",
                     G_CALLBACK(HistoryChanged), navigations);
    EngineWatch& watch = TheWatch();
    watch.views.push_back(navigations);
    if (!watch.source)
        ScheduleLook(kLookMs);
}

void RenewViewWith(gpointer view, std::function<void()> renew)
{
    if (BoundedPage* navigations = NavigationsOf(view))
        navigations->renew = std::move(renew);
}

bool AdmitAddressLength(gpointer view, WebKitNavigationAction* action)
{
    if (BoundedPage* navigations = NavigationsOf(view))
        NoteActivity(*navigations);
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
    BoundedPage* navigations = NavigationsOf(view);
    if (!navigations)
        return true;
    NoteActivity(*navigations);
    if (clicked)
        StartAfresh(*navigations);
    Replenish(*navigations, ProgramClock::Now());
    if (navigations->allowance >= 1) {
        navigations->allowance -= 1;
        return true;
    }
    const PageBoundLimits& limits = Limits();
    RefuseNavigation(*navigations,
                     wxString::Format(wxS("navigations refused: more than %u a second after a burst of %u: "),
                                      limits.navigationsPerSecond, limits.navigationBurst) +
                         PageAddress(navigations->view));
    return false;
}

} // namespace bcx
