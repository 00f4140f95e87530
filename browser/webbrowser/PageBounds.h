#pragma once
// The bounds of a page in the program: the pace of its navigations and what the engine holds for it. The
// engine decides a page's navigations and keeps, in the
// program's own process, on the thread that also serves the relay and the LAN, its back/forward list
// (every entry's address, state object and frames' names) and the names of the frames it shows: a page
// that navigates without end, to addresses of megabytes, that names frames with megabytes or pushes or
// replaces large history states would grow the program without bound. So a page's navigations are
// admitted at a rate no ordinary page reaches (past it they are refused and counted as refusals, which
// stops a page that goes on), and the engine's share of the program's memory (EngineMemory.h) is looked
// at: a page that grows it past a bound is stopped (StopPage), and its view is made anew, which is the
// only way the engine lets go of what a view's history holds.

#include <cstddef>
#include <functional>

#include <glib.h>
#include <wx/string.h>

typedef struct _WebKitNavigationAction WebKitNavigationAction;

namespace bcx {

struct PageBoundLimits {
    // A page's navigations (in any frame) are admitted at this many a second of the program clock, after a
    // burst of navigationBurst; a real click, key or wheel step in the view starts a fresh burst.
    unsigned navigationsPerSecond = 8;
    unsigned navigationBurst = 200;
    // A page that asks for an address longer than this (bytes) is stopped: the engine keeps the address
    // of every entry of its history (up to a hundred) many times over.
    size_t maxAddressLength = 32768;
    // A page is stopped once the engine's share of the program's memory stands more than this above the
    // least it held since the program last loaded a page in any view, or since a page was last stopped.
    size_t maxEngineGrowthBytes = 64u << 20;
};

// Tests may lower the limits; they take effect at once.
void SetPageBoundLimits(const PageBoundLimits& limits);

// For a WebKitWebView, once when it is created: its page's navigations and the engine's share of the
// program's memory are looked at.
void BoundPage(gpointer view);
// What makes view anew once its page was stopped for what it left in the program (the view goes then,
// and its history with it); without it, the view stays with what the page left until it goes.
void RenewViewWith(gpointer view, std::function<void()> renew);
// The program loads a page in view (its own load, not one a page asked for): what the engine held
// before is not the new page's.
void NoteProgramLoad(gpointer view);

// Whatever the page in view asks for (a navigation in any frame, a new window), before anything else is
// made of it: false when its address is too long, and the page is stopped.
bool AdmitAddressLength(gpointer view, WebKitNavigationAction* action);

// A navigation of the page in view (in any frame) that the program is about to decide, never one of the
// program's own loads. False when it is refused: the page navigated faster than its limits admit, which
// is counted (NoteRefusal) and logged once per page. clicked: the user's own click or key in the view
// started it; such a navigation is never refused.
bool AdmitPageNavigation(gpointer view, bool clicked);

} // namespace bcx
