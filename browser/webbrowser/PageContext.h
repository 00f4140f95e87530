#pragma once
// The engine context that every page of the program runs in. Pages keep nothing on disk: an extension of
// the page processes (browser/pageext/) streams their media through memory and stops it when asked, and
// whatever a page process still holds on disk is bounded here like the memory of the processes the engine
// starts for pages. The program looks at those processes itself, cheaply, every second
// (ProcessWatch.cpp): a page's process is asked to release what it can past half its memory limit
// (PageRelease.cpp) and ended past the limit, and has its media stopped when it holds the most of the
// files on disk that the page processes together hold past 80 MiB (MediaFiles.cpp); the network process
// is ended past its memory limit.
//
// The toolkit's web view makes its native view with webkit_web_view_new(), which puts it on the engine's
// default context, whose limits can only be given when a context is made. The program therefore defines
// webkit_web_view_new() itself (PageContext.cpp, compiled into every executable that links the windows,
// so that the engine's own definition is never the one taken): the toolkit's views are made on this
// context, with the program's media policy. It defines g_subprocess_launcher_spawnv() the same way, through
// which the engine starts its processes: every descriptor of the program is marked close-on-exec first.

#include <cstdint>

#include <sys/types.h>

typedef struct _WebKitWebContext WebKitWebContext;

namespace bcx {

struct PageLimits {
    // A page's process is ended once its resident memory passes this (MiB).
    unsigned pageProcessMiB = 768;
    // The same for the engine's network process, which holds what pages store (cookies, local storage,
    // IndexedDB, cache storage); the engine starts a new one when it is needed again.
    unsigned networkProcessMiB = 384;
    // Past this (MiB) of files on disk that the page processes hold together, the media of the one that
    // holds the most is stopped; it is ended if it still holds them a second later.
    unsigned pageFilesMiB = 80;
    // A page's process that falls back under half its memory limit and passes it again, without having
    // been well under it, is asked to release again at most once in this many seconds.
    unsigned releaseAgainSeconds = 60;
    // Media streams through the pipeline's memory queue; false lets the engine buffer the clips it wants
    // whole in files on disk, as it does by itself (for new page processes).
    bool mediaStreamed = true;
};

// Takes effect at the next look at the engine's processes.
void SetPageLimits(const PageLimits& limits);
PageLimits CurrentPageLimits();

// The resident memory of a process (the program's own too), in bytes; 0 when it cannot be read.
uint64_t ResidentBytes(pid_t pid);

// The program's context, made at first use. Never null.
WebKitWebContext* PageContext();

// Before a page the program loads itself: the engine's memory cache lets go of what pages left in it, so
// that the page and what it shows come from their server (the engine's memory cache would otherwise serve
// what they allow it to keep).
void ForgetCachedPages();

// The looks at the engine's processes taken so far.
unsigned long WatchLooksForTesting();

// The asks to release memory sent to page processes so far.
unsigned long ReleaseAsksForTesting();

// True, once, when a page's process ended within the last few seconds because the program ended it past
// one of its bounds (the engine reports that end as a crash); the program has logged why already.
bool TakeProgramEnd();

} // namespace bcx
