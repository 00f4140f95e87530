#include "browser/webbrowser/PageRelease.h"

#include "browser/PageLog.h"
#include "browser/pageext/PageMessages.h"

namespace bcx {
namespace pagewatch {

// A page's process past half its memory limit is asked to release what it can (the engine's release under
// critical pressure, run by the page extension), and again whenever it has grown by another eighth of its
// limit since; once back under half, again when it next passes half. By itself the engine drops the
// decoded images a page no longer shows only past its memory cache's capacity, and keeps the rest of its
// caches: a long read of a page that keeps adding images would reach the limit. A page that holds its
// memory still does.
void AskToRelease(pid_t pid, Seen& now, const Seen* before)
{
    const uint64_t limit = Limits().pageProcessMiB * kMiB;
    if (now.resident <= limit / 2) {
        now.releasedAt = 0;
        return;
    }
    now.releasedAt = before ? before->releasedAt : 0;
    if (now.releasedAt != 0 && now.resident < now.releasedAt + limit / 8)
        return;
    now.releasedAt = now.resident;
    SendToPage(pid, kReleaseMemoryMessage);
    LogBrowser(wxString::Format(wxS("the page's process passed half its memory limit (%u MiB resident, limit %u "
                                    "MiB): it was asked to release its caches and decoded images"),
                                static_cast<unsigned>(now.resident / kMiB), static_cast<unsigned>(limit / kMiB)));
}

} // namespace pagewatch
} // namespace bcx
