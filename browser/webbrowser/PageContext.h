#pragma once
// The engine context that every page of the program runs in. Pages are peers: the memory of the processes
// the engine starts for them is bounded here, once, before the first view, and they keep nothing on disk.
//
// The toolkit's web view makes its native view with webkit_web_view_new(), which puts it on the engine's
// default context, whose limits can only be given when a context is made. The program therefore defines
// webkit_web_view_new() itself (PageContext.cpp): the toolkit's views are made on this context.

typedef struct _WebKitWebContext WebKitWebContext;

namespace bcx {

struct PageLimits {
    // A page's process is ended by the engine once it uses more than this (MiB); it looks every second.
    unsigned pageProcessMiB = 768;
    // The same for the engine's network process, which holds what pages store (cookies, local storage,
    // IndexedDB, cache storage); the engine starts a new one when it is needed again.
    unsigned networkProcessMiB = 384;
};

// Tests may lower the limits; they take effect for a context that is not made yet.
void SetPageLimits(const PageLimits& limits);

// The program's context, made at first use. Never null.
WebKitWebContext* PageContext();

} // namespace bcx
