#include "browser/webbrowser/PageRelease.h"

#include "browser/PageLog.h"
#include "browser/pageext/PageMessages.h"

namespace bcx {
namespace pagewatch {
namespace {

unsigned long gAsks = 0;

} // namespace

// A page's process past half its memory limit is asked to release what it can (the engine's release under
// critical pressure, run by the page extension), and again whenever it has grown by another eighth of its
// limit since. By itself the engine drops the decoded images a page no longer shows only past its memory
// cache's capacity, and keeps the rest of its caches: a long read of a page that keeps adding images would
// reach the limit. A page that holds its memory still does.
//
// A process that hovers around half its limit passes it again and again: it is asked again at such a
// passing only once it has been well under half (an eighth of its limit below), or when the last ask is
// the limits' releaseAgainSeconds old. The first ask is logged, and of the asks that follow until it is
// well under half again, the first.
void AskToRelease(pid_t pid, Seen& now, const Seen* before)
{
    const uint64_t limit = Limits().pageProcessMiB * kMiB;
    now.aboveHalf = now.resident > limit / 2;
    if (now.resident <= limit / 2 - limit / 8)
        return;
    if (before) {
        now.releasedAt = before->releasedAt;
        now.askedAt = before->askedAt;
        now.repeatLogged = before->repeatLogged;
    }
    if (!now.aboveHalf)
        return;
    const gint64 time = g_get_monotonic_time();
    const bool passedAgain = !before || !before->aboveHalf;
    const bool first = now.releasedAt == 0;
    if (!first && now.resident < now.releasedAt + limit / 8 &&
        !(passedAgain && time - now.askedAt >= gint64{Limits().releaseAgainSeconds} * G_USEC_PER_SEC))
        return;
    now.releasedAt = now.resident;
    now.askedAt = time;
    ++gAsks;
    SendToPage(pid, kReleaseMemoryMessage);
    const unsigned residentMiB = static_cast<unsigned>(now.resident / kMiB);
    const unsigned limitMiB = static_cast<unsigned>(limit / kMiB);
    if (first)
        LogBrowser(wxString::Format(wxS("the page's process passed half its memory limit (%u MiB resident, limit "
                                        "%u MiB): it was asked to release its caches and decoded images"),
                                    residentMiB, limitMiB));
    else if (!now.repeatLogged) {
        now.repeatLogged = true;
        LogBrowser(wxString::Format(wxS("the page's process stays above half its memory limit (%u MiB resident, "
                                        "limit %u MiB): it was asked to release again, and will be, unlogged, "
                                        "until it is well under half"),
                                    residentMiB, limitMiB));
    }
}

} // namespace pagewatch

unsigned long ReleaseAsksForTesting()
{
    return pagewatch::gAsks;
}

} // namespace bcx
