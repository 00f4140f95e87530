#pragma once
// What a page makes the program keep through its navigations and its history. The engine decides a
// page's navigations and keeps its back/forward list (every entry's address and state object) in the
// program's own process, on the thread that also serves the relay and the LAN: a page that navigates
// without end, to addresses of megabytes, or that pushes large history states document after document,
// would grow the program without bound. Past these bounds what the page asks for is refused and counted
// as a refusal (NoteRefusal, which stops a page that goes on), and one line per page says so, or the page
// is stopped at once (StopPage).

#include <cstddef>

#include <glib.h>
#include <wx/string.h>

typedef struct _WebKitNavigationAction WebKitNavigationAction;

namespace bcx {

struct HistoryLimits {
    // A page's navigations past this many since it started are refused: the engine keeps some kilobytes
    // in the program for every navigation it carried out, for as long as the program runs.
    unsigned maxNavigationsPerPage = 2000;
    // A page that asks for an address longer than this (bytes) is stopped: the engine keeps the address
    // of every entry of its history (up to a hundred) many times over.
    size_t maxAddressLength = 32768;
    // A page is stopped once the program's own resident memory grew by more than this while the view's
    // back/forward list grew (since the program last loaded a page in the view, the user last clicked a
    // link in it, or a page was stopped).
    size_t maxHistoryGrowthBytes = 32u << 20;
};

// Tests may lower the limits; they take effect at once.
void SetHistoryLimits(const HistoryLimits& limits);

// For a WebKitWebView, once when it is created: its history is looked at whenever it grows.
void BoundPageHistory(gpointer view);
// The program loads a page in view (its own load, not one a page asked for): what the history held
// before is not the new page's.
void NoteProgramLoad(gpointer view);

// Whatever the page in view asks for (a navigation in any frame, a new window), before anything else is
// made of it: false when its address is too long, and the page is stopped.
bool AdmitAddressLength(gpointer view, WebKitNavigationAction* action);

// A navigation of the page in view (in any frame) that the program is about to decide, never one of the
// program's own loads. False when it is refused: the page made more than 200 navigations within ten
// seconds of the program clock, or too many since it started (allowed or handled alike), which is counted
// (NoteRefusal) and logged once per page. clicked: the user's own click or key in the view started it,
// which counts as a load of the program's for the history's bound.
bool AdmitPageNavigation(gpointer view, bool clicked);

} // namespace bcx
