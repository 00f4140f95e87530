#pragma once
// The native web view's (WebKitGTK) own defaults that act outside the page, decided by us at the
// engine's signals rather than by scripts in the page (which reach only the frames and calls they were
// written for). The toolkit's web view connects handlers of its own to some of these signals before we
// can; a signal we decide is taken over from them.

#include <glib-object.h>
#include <wx/string.h>

namespace bcx {

// Sets aside (blocks) every handler connected so far to signal on instance, then connects handler with
// data: ours alone decides. Returns our handler's id; 0 when the instance has no such signal.
gulong TakeOverSignal(gpointer instance, const char* signal, GCallback handler, gpointer data);

// The page of view asked for something that is refused (a navigation, a window, a download, a print
// dialog ...): line, unless empty, is logged (through the page log), and the refusal counted. A page is
// stopped once more than a hundred of its requests were refused within any ten seconds, or more than a
// thousand since its process started (the engine keeps a few kilobytes for each refused navigation until
// the process ends): that is logged once, its process is ended with whatever it still has queued, and the
// view stays empty until the next page. What a stopped page still asks for is neither logged nor counted.
void NoteRefusal(gpointer view, const wxString& line);
bool PageStopped(gpointer view);
// Stops the page of view at once, as past the refusal bound, with why in its line.
void StopPage(gpointer view, const wxString& why);

// For a WebKitWebView, once when it is created: downloads are cancelled before they write anything;
// print requests, full screen, file choosers, authentication, notifications, permission requests and
// the context menu are refused; an ended page process is logged (LogProcessEnd); the view's history is
// bounded (BoundPage), and so are its option menus (BoundOptionMenus). Every refusal is logged.
// Returns false when view is not a WebKitWebView.
bool DecideEngineDefaults(gpointer view);

} // namespace bcx
