#include "platform/gui/QueuedEventSource.h"

#include <glib.h>

#include <wx/app.h>
#include <wx/evtloop.h>

namespace bcx {
namespace {

// Whether the application lets its queue be processed: SuspendProcessingOfPendingEvents clears the flag,
// and the toolkit then processes nothing when asked. The source is not ready meanwhile, so that it does
// not spin.
struct PendingProcessingFlag : wxAppConsoleBase {
    static bool Enabled(const wxAppConsoleBase& app)
    {
        return app.*(&PendingProcessingFlag::m_bDoPendingEventProcessing);
    }
};

GSource* gSource = nullptr;

bool QueueReady()
{
    wxAppConsole* app = wxAppConsole::GetInstance();
    if (!app || !PendingProcessingFlag::Enabled(*app))
        return false;
    // Only inside one of the toolkit's loops (never before the main loop runs). While a loop yields, the
    // toolkit decides which queued events may run and processes them itself when the yield ends: a
    // source that stayed ready would keep the yield iterating.
    const wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    if (!loop || loop->IsYielding())
        return false;
    return app->HasPendingEvents();
}

gboolean Prepare(GSource*, gint* timeout)
{
    // Nothing to wait for: whatever queues an event (a socket, a timer, input, another thread through
    // the toolkit's wake-up) ends the loop's poll by itself.
    *timeout = -1;
    return QueueReady();
}

gboolean Check(GSource*)
{
    return QueueReady();
}

gboolean Dispatch(GSource*, GSourceFunc, gpointer)
{
    // The toolkit's own processing: one event at a time, each removed from the queue before its handler
    // runs, handlers that were destroyed meanwhile skipped; until the queue is empty.
    if (wxAppConsole* app = wxAppConsole::GetInstance())
        app->ProcessPendingEvents();
    return G_SOURCE_CONTINUE;
}

GSourceFuncs gFuncs = {Prepare, Check, Dispatch, nullptr, nullptr, nullptr};

} // namespace

void StartQueuedEventSource()
{
    if (gSource)
        return;
    gSource = g_source_new(&gFuncs, sizeof(GSource));
    g_source_set_name(gSource, "bcx queued events");
    g_source_set_priority(gSource, G_PRIORITY_DEFAULT);
    // A handler may run a loop of its own (a modal dialog: the news dialog is shown from a queued call);
    // the queue is served from that loop too, as the toolkit's idle handler would serve it there.
    g_source_set_can_recurse(gSource, TRUE);
    g_source_attach(gSource, nullptr);
}

void StopQueuedEventSource()
{
    if (!gSource)
        return;
    g_source_destroy(gSource);
    g_source_unref(gSource);
    gSource = nullptr;
}

bool QueuedEventSourceRunning()
{
    return gSource != nullptr;
}

} // namespace bcx
