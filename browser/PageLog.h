#pragma once
// Log lines about what web pages do. A page is a peer: the text it fills is made safe for a log line,
// and the number of lines pages cause is bounded.

#include <wx/string.h>

namespace bcx {

// Page text for a log line: control characters escaped, long text cut.
wxString ForLog(const wxString& text);

// Logs "[browser] " + text. Pages cause at most 200 lines in any ten seconds of the program clock: a line
// is logged only when fewer than 200 were in the ten seconds before it (a sliding window, not fixed
// ones). The first line dropped gets a line of its own saying so (at most one such line in ten seconds).
void LogBrowser(const wxString& text);

// Logs "[browser] " + text about one of the engine's processes that ended or was ended (a page stopped, a
// process past its bound, a crash), through LogBrowser's bound. Besides, at most 10 such lines in any
// minute: the engine starts some processes again by itself (a page's workers), and a page can have them
// ended again and again. The first line dropped gets a line of its own saying so (at most one a minute).
void LogProcessEnd(const wxString& text);

// While one lives, every line logged on the GUI thread (whatever part of the program logs it, with its
// text unchanged) counts against the same bound as LogBrowser's lines and is dropped past it: for the
// work a page's navigation starts, which logs through other parts too (the game list's "[g]" lines, the
// LAN hosts' datagrams, ...). Nests: only the outermost one is in effect.
class PageLogScope {
public:
    PageLogScope();
    ~PageLogScope();

    PageLogScope(const PageLogScope&) = delete;
    PageLogScope& operator=(const PageLogScope&) = delete;
};

// While one lives (the engine deciding a navigation that a page asked for), whoever handles the address
// may say that it carried it out as asked (a built-in page shown, an address handed to the desktop): the
// navigation is then declined without being a refusal of the page. Nests: the innermost one is told.
class PageNavigationDecision {
public:
    PageNavigationDecision();
    ~PageNavigationDecision();

    PageNavigationDecision(const PageNavigationDecision&) = delete;
    PageNavigationDecision& operator=(const PageNavigationDecision&) = delete;

    bool CarriedOut() const { return mCarriedOut; }
    // Tells the innermost decision that lives; nothing without one.
    static void NoteCarriedOut();

private:
    PageNavigationDecision* mOuter;
    bool mCarriedOut = false;
};

} // namespace bcx
