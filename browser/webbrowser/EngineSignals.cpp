#include "browser/webbrowser/EngineSignals.h"

#include <webkit2/webkit2.h>
#include <wx/log.h>

#include "browser/PageLog.h"
#include "browser/RecentEvents.h"
#include "browser/webbrowser/PageBounds.h"
#include "browser/webbrowser/PageContext.h"
#include "browser/webbrowser/PageText.h"
#include "platform/ProgramClock.h"

namespace bcx {
namespace {

// Marks a web context whose downloads are already decided (views share their context).
const char* const kContextKey = "bcx-downloads-decided";
// A view's PageRefusals.
const char* const kRefusalsKey = "bcx-refusals";

// A page is stopped once more than this many of its requests are refused within kRefusalWindowMs, or
// more than kMaxRefusalsPerProcess since its process started: the engine keeps a few kilobytes for every
// refused navigation until the page's process ends.
const size_t kMaxRefusalsInWindow = 100;
const uint32_t kRefusalWindowMs = 10000;
const unsigned kMaxRefusalsPerProcess = 1000;

// What one view's page had refused.
struct PageRefusals {
    RecentEvents<kMaxRefusalsInWindow> recent{kRefusalWindowMs};
    unsigned sinceProcessStart = 0;
    // The page was stopped; nothing is counted again until the view shows another page.
    bool stopped = false;
};

// Within the page-log bound, and the bound of lines about ended processes: the engine reports every end
// of a page's process, also one the page has the engine start again and again.
void LogPageEnded(const wxString& text)
{
    LogProcessEnd(text);
}

PageRefusals* RefusalsOf(gpointer view)
{
    return static_cast<PageRefusals*>(g_object_get_data(G_OBJECT(view), kRefusalsKey));
}

// A new page starts with a clean slate, but for what its process had refused before it.
void ForgetRefusals(WebKitWebView* view, WebKitLoadEvent event, gpointer)
{
    PageRefusals* refusals = RefusalsOf(view);
    if (event == WEBKIT_LOAD_COMMITTED && refusals) {
        refusals->stopped = false;
        refusals->recent.Clear();
    }
}

wxString Text(const char* utf8)
{
    return utf8 ? wxString::FromUTF8(utf8) : wxString();
}

// The program has no download feature: whatever the engine would save (an attachment, a link with a
// download attribute, a data: or blob: address, a clicked link to a file) is cancelled before it has a
// destination, so not a byte is written.
gboolean RefuseDestination(WebKitDownload* download, gchar*, gpointer)
{
    webkit_download_cancel(download);
    return TRUE;
}

void RefuseDownload(WebKitWebContext*, WebKitDownload* download, gpointer)
{
    WebKitURIRequest* request = webkit_download_get_request(download);
    const wxString line = wxS("download refused: ") + ForLog(Text(request ? webkit_uri_request_get_uri(request) : nullptr));
    if (WebKitWebView* view = webkit_download_get_web_view(download))
        NoteRefusal(view, line);
    else
        LogBrowser(line);
    // Also answers the destination question, should the engine still ask it after the cancel.
    g_signal_connect(download, "decide-destination", G_CALLBACK(RefuseDestination), nullptr);
    webkit_download_cancel(download);
}

// A page opens no print dialog: it would be modal over the program's window, asked for without a click.
gboolean RefusePrint(WebKitWebView* view, WebKitPrintOperation*, gpointer)
{
    NoteRefusal(view, wxS("print request refused"));
    return TRUE;
}

// The page stays inside its view: the program's window is not made full screen for it.
gboolean RefuseFullScreen(WebKitWebView* view, gpointer)
{
    NoteRefusal(view, wxS("full screen refused"));
    return TRUE;
}

// Location, camera, microphone, notifications, pointer lock, clipboard, storage access, media keys,
// device lists: a page is granted none.
gboolean RefusePermission(WebKitWebView* view, WebKitPermissionRequest* request, gpointer)
{
    webkit_permission_request_deny(request);
    NoteRefusal(view, wxS("permission refused: ") + Text(G_OBJECT_TYPE_NAME(request)));
    return TRUE;
}

gboolean AnswerPermissionQuery(WebKitWebView*, WebKitPermissionStateQuery* query, gpointer)
{
    webkit_permission_state_query_finish(query, WEBKIT_PERMISSION_STATE_DENIED);
    return TRUE;
}

// A page reaches no local file.
gboolean RefuseFileChooser(WebKitWebView* view, WebKitFileChooserRequest* request, gpointer)
{
    webkit_file_chooser_request_cancel(request);
    NoteRefusal(view, wxS("file chooser refused"));
    return TRUE;
}

// No credentials are asked for, and none are stored.
gboolean RefuseAuthentication(WebKitWebView* view, WebKitAuthenticationRequest* request, gpointer)
{
    const wxString line = wxString::Format(wxS("authentication refused: %s:%u"),
                                           ForLog(Text(webkit_authentication_request_get_host(request))),
                                           static_cast<unsigned>(webkit_authentication_request_get_port(request)));
    webkit_authentication_request_cancel(request);
    NoteRefusal(view, line);
    return TRUE;
}

// Nothing goes to the desktop's notifications (no page is granted them in the first place).
gboolean RefuseNotification(WebKitWebView* view, WebKitNotification* notification, gpointer)
{
    NoteRefusal(view, wxS("notification not shown: ") + ForLog(Text(webkit_notification_get_title(notification))));
    return TRUE;
}

// No context menu: its items would open windows, save files and print.
gboolean RefuseContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer)
{
    return TRUE;
}

// The view stays empty until the next navigation; the page is not loaded again by itself (it may well
// end its process again).
void NoteEndedProcess(WebKitWebView* view, WebKitWebProcessTerminationReason reason, gpointer)
{
    // What the engine kept for the refusals went with the process.
    if (PageRefusals* refusals = RefusalsOf(view)) {
        refusals->sinceProcessStart = 0;
        refusals->recent.Clear();
    }
    // Ended by the program (past a bound of its process, the engine reports a crash): the reason is
    // logged already.
    if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API || (reason == WEBKIT_WEB_PROCESS_CRASHED && TakeProgramEnd()))
        return;
    LogPageEnded(reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? wxS("the page's process exceeded its memory limit")
                 : reason == WEBKIT_WEB_PROCESS_CRASHED           ? wxS("the page's process crashed")
                                                                   : wxS("the page's process was ended"));
}

} // namespace

bool PageStopped(gpointer view)
{
    const PageRefusals* refusals = RefusalsOf(view);
    return refusals && refusals->stopped;
}

void NoteRefusal(gpointer view, const wxString& line)
{
    PageRefusals* refusals = RefusalsOf(view);
    if (refusals && refusals->stopped)
        return;
    if (!line.empty())
        LogBrowser(line);
    if (!refusals)
        return;
    const bool flood = !refusals->recent.Admit(ProgramClock::Now());
    if (!flood && ++refusals->sinceProcessStart <= kMaxRefusalsPerProcess)
        return;
    StopPage(view, flood ? wxString::Format(wxS("more than %u of its requests refused within %u seconds"),
                                            static_cast<unsigned>(kMaxRefusalsInWindow),
                                            static_cast<unsigned>(kRefusalWindowMs / 1000))
                         : wxString::Format(wxS("more than %u of its requests refused since its process started"),
                                            kMaxRefusalsPerProcess));
}

void StopPage(gpointer view, const wxString& why)
{
    PageRefusals* refusals = RefusalsOf(view);
    if (!refusals || refusals->stopped)
        return;
    refusals->stopped = true;
    LogPageEnded(wxS("page stopped: ") + why + wxS(": ") + ForLog(Text(webkit_web_view_get_uri(WEBKIT_WEB_VIEW(view)))));
    // Its process goes with whatever it still has queued; the view stays empty until the next page.
    webkit_web_view_terminate_web_process(WEBKIT_WEB_VIEW(view));
}

gulong TakeOverSignal(gpointer instance, const char* signal, GCallback handler, gpointer data)
{
    const guint id = g_signal_lookup(signal, G_OBJECT_TYPE(instance));
    if (id == 0)
        return 0;
    // One by one: this GLib's g_signal_handlers_block_matched matches nothing by signal id alone.
    const GSignalMatchType unblocked = static_cast<GSignalMatchType>(G_SIGNAL_MATCH_ID | G_SIGNAL_MATCH_UNBLOCKED);
    while (const gulong other = g_signal_handler_find(instance, unblocked, id, 0, nullptr, nullptr, nullptr))
        g_signal_handler_block(instance, other);
    return g_signal_connect(instance, signal, handler, data);
}

bool DecideEngineDefaults(gpointer view)
{
    if (!WEBKIT_IS_WEB_VIEW(view))
        return false;
    WebKitWebContext* context = webkit_web_view_get_context(WEBKIT_WEB_VIEW(view));
    if (context && !g_object_get_data(G_OBJECT(context), kContextKey)) {
        g_object_set_data(G_OBJECT(context), kContextKey, GINT_TO_POINTER(1));
        TakeOverSignal(context, "download-started", G_CALLBACK(RefuseDownload), nullptr);
    }
    g_object_set_data_full(G_OBJECT(view), kRefusalsKey, new PageRefusals,
                           [](gpointer refusals) { delete static_cast<PageRefusals*>(refusals); });
    g_signal_connect(view, "load-changed", G_CALLBACK(ForgetRefusals), nullptr);
    TakeOverSignal(view, "print", G_CALLBACK(RefusePrint), nullptr);
    TakeOverSignal(view, "enter-fullscreen", G_CALLBACK(RefuseFullScreen), nullptr);
    TakeOverSignal(view, "permission-request", G_CALLBACK(RefusePermission), nullptr);
    TakeOverSignal(view, "query-permission-state", G_CALLBACK(AnswerPermissionQuery), nullptr);
    TakeOverSignal(view, "run-file-chooser", G_CALLBACK(RefuseFileChooser), nullptr);
    TakeOverSignal(view, "authenticate", G_CALLBACK(RefuseAuthentication), nullptr);
    TakeOverSignal(view, "show-notification", G_CALLBACK(RefuseNotification), nullptr);
    TakeOverSignal(view, "context-menu", G_CALLBACK(RefuseContextMenu), nullptr);
    TakeOverSignal(view, "web-process-terminated", G_CALLBACK(NoteEndedProcess), nullptr);
    BoundOptionMenus(view);
    BoundPage(view);
    return true;
}

} // namespace bcx
