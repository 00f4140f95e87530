#pragma once
// Queued events served at the main loop's default priority.
//
// The toolkit queues what its sockets report (input, connection, loss) on their handlers, as it queues
// the program's notifications and deferred calls, and handles the queue from its idle handler, which it
// registers at the lowest priority of the GLib main loop, below the GTK redraw. While a view's frame takes
// longer to paint than the frame interval (a page that animates in a very large window), a redraw is
// always due, the idle handler never runs, and the relay connection, the joined Warcraft III and IRC are
// not served. This source hands the queue to the toolkit (wxApp::ProcessPendingEvents) from a source of
// default priority instead: the queued events are handled as soon as the socket, timer or input that
// queued them has been dispatched, ahead of the redraw. The events themselves, their order and their
// handlers are the toolkit's; only the moment they are handled changes.

namespace bcx {

// Attaches the source to the default main context (once; a second call does nothing). Call it from the
// application's start-up, before anything is connected.
void StartQueuedEventSource();

// Detaches it; queued events go back to the toolkit's idle handler. Call it at exit.
void StopQueuedEventSource();

// True while the source is attached.
bool QueuedEventSourceRunning();

} // namespace bcx
