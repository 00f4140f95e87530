#pragma once
// Text that a page has the program lay out on its one thread: an element's title shown as a tooltip, the
// options of a <select>'s menu, a script dialog's message, a form field's validation message and its
// suggestions (a datalist). The toolkit lays such text out whole: a megabyte of title made a tooltip window
// wider than 32,767 pixels and kept the program's thread for seconds at every pointer move, a megabyte of
// alert() or of validation message, seconds, a select of a hundred thousand options tens of seconds, and
// as many suggestions, seconds. So the program shows only the start of it, as browsers do.
//
// The engine hands a page's text to the toolkit through a few of the toolkit's functions, which the
// program defines itself (PageText.cpp, compiled into every executable that links the windows, like the
// engine context) and hands on (the next definition, dlsym RTLD_NEXT):
//   - gtk_tooltip_set_text: every tooltip shows at most its first thousand characters;
//   - gtk_label_new, gtk_label_new_with_mnemonic, gtk_label_set_text, gtk_label_set_markup: a label the
//     engine's code makes or sets (a script dialog's message, a validation message) shows at most the
//     first thousand characters of its text; the labels of the toolkit and of the program are left as
//     they are, however long;
//   - gtk_list_store_append, gtk_list_store_set: a list the engine's code fills (a field's suggestions)
//     gets no more rows than an option menu shows; the user narrows it by typing more;
//   - gtk_cell_renderer_text_new: the rows of such a list are laid out with at most the first thousand
//     characters of their text (a suggestion of a megabyte made a window wider than 32,767 pixels, which
//     ended the program); the row keeps its text whole, so the suggestion picked is the page's own.
//
// Option menus: an ordinary one is left to the engine. One of more than 500 options, or with an option's
// label past 200 characters or its title past 1,000, is shown by the program as a menu of its own:
// labels and titles cut, and the 500 options around the selected one only (the others are reached with
// the keys on the closed select). The option the user picks is the page's as from the engine's own menu.
//
// Left to the engine, measured: a prompt()'s default text (a megabyte in the field took 0.4 s, and it is
// what the page gets back). The program does not show a page's title.

#include <glib-object.h>

namespace bcx {

// For a WebKitWebView, once when it is created: its option menus are bounded as above.
void BoundOptionMenus(gpointer view);

} // namespace bcx
