#pragma once
// Text that a page has the program lay out on its one thread: an element's title shown as a tooltip, and
// the labels of a <select>'s option menu. The toolkit lays such text out whole (a megabyte of title makes
// a tooltip window wider than 32,767 pixels and keeps the program's thread for seconds at every pointer
// move; a select of a hundred thousand options, for tens of seconds), so the program shows only the
// start of it, as browsers do.
//
// Tooltips: the engine hands an element's title to the toolkit with gtk_tooltip_set_text(), which the
// program defines itself (PageText.cpp, compiled into every executable that links the windows, like the
// engine context): every tooltip shows at most its first thousand characters.
//
// Option menus: an ordinary one is left to the engine. One with more options than the bound, or an
// option whose label or title is longer than its bound, is shown by the program as a menu of its own:
// labels and titles cut, and the options around the selected one only (the others are reached with the
// keys on the closed select). The option the user picks is the page's as from the engine's own menu.
//
// Left to the engine, measured: script dialogs (a megabyte of alert() or prompt() text is drawn inside the
// view within milliseconds); the program does not show a page's title.

#include <cstddef>
#include <string>

#include <glib-object.h>

namespace bcx {

struct TextLimits {
    // Characters of a tooltip, and of an option's title in the program's option menu.
    size_t tooltipChars = 1000;
    // Characters of an option's label in an option menu.
    size_t optionChars = 200;
    // Options an option menu shows.
    size_t menuOptions = 500;
};

// Take effect at the next tooltip or option menu.
void SetTextLimits(const TextLimits& limits);
TextLimits CurrentTextLimits();

// utf8 (null: empty) cut to at most maxChars characters, at a character boundary, with an ellipsis when
// anything was cut.
std::string CutText(const char* utf8, size_t maxChars);

// For a WebKitWebView, once when it is created: its option menus are bounded as above.
void BoundOptionMenus(gpointer view);

} // namespace bcx
