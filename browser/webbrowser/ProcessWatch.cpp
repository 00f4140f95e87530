#include "browser/webbrowser/ProcessWatch.h"

#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <set>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <webkit2/webkit2.h>
#include <wx/log.h>

#include "browser/PageLog.h"
#include "browser/webbrowser/MediaFiles.h"
#include "browser/webbrowser/PageRelease.h"

namespace bcx {
namespace pagewatch {
namespace {

// The program looks at the engine's processes every second (two small reads per process), and every
// twentieth of a second while one of them grows by more than kFastGrowthMiB or writes more than
// kFastWriteMiB to disk a second (as measured since the last look), and as soon as the engine makes a
// media file. A process that only stands still, however close to its limit, is looked at every second.
// The engine's own memory-pressure settings would look as often by reading each process's whole memory
// map in that process.
const guint kLookSeconds = 1;
const guint kFastLookMs = 50;
const uint64_t kFastGrowthMiB = 32;

// The engine reports a page's process that the program ended as crashed; an end is matched to such a
// report within this time.
const gint64 kEndReportUs = 5 * G_USEC_PER_SEC;

struct Watch {
    PageLimits limits;
    // The program's child processes seen so far, and the engine's among them.
    std::map<pid_t, EngineProcess> kinds;
    std::map<pid_t, Seen> seen;
    // Ended and not gone yet.
    std::set<pid_t> ended;
    // When the program ended page processes whose end the engine has not reported yet.
    std::deque<gint64> pageEnds;
    // When the last look was taken, and how many were taken.
    gint64 lastLook = 0;
    unsigned long looks = 0;
};

Watch& TheWatch()
{
    static Watch watch;
    return watch;
}

// The engine starts its processes from the program's main thread. None when the kernel does not list a
// thread's children (built without it, or /proc mounted without it): that is logged once, since the
// engine's processes then go unwatched.
std::vector<pid_t> ChildProcesses()
{
    std::vector<pid_t> pids;
    const pid_t self = ::getpid();
    const std::string path = ProcPath(self, "task/") + std::to_string(self) + "/children";
    bool unopened = false;
    const std::string text = ReadProcFile(path, &unopened);
    const int error = errno;
    static bool logged = false;
    if (unopened && !logged) {
        logged = true;
        wxLogMessage(wxS("[browser] the engine's processes are not watched, their memory is not bounded: %s "
                         "cannot be read (%s)"),
                     wxString::FromUTF8(path), wxString::FromUTF8(std::strerror(error)));
    }
    const char* p = text.c_str();
    char* end = nullptr;
    for (long pid = std::strtol(p, &end, 10); end != p; pid = std::strtol(p, &end, 10)) {
        pids.push_back(static_cast<pid_t>(pid));
        p = end;
    }
    return pids;
}

EngineProcess KindOf(pid_t pid)
{
    // The process's name, cut to 15 characters.
    const std::string name = ReadProcFile(ProcPath(pid, "comm"));
    if (name.rfind("WebKitWebProces", 0) == 0)
        return EngineProcess::Page;
    if (name.rfind("WebKitNetworkPr", 0) == 0)
        return EngineProcess::Network;
    return EngineProcess::Other;
}

// Looks at one of the engine's processes, spanUs after the last look; false when it was ended.
bool LookAt(pid_t pid, EngineProcess kind, Seen& now, const Seen* before, gint64 spanUs, bool& soon)
{
    const PageLimits& limits = TheWatch().limits;
    const bool page = kind == EngineProcess::Page;
    const unsigned limitMiB = page ? limits.pageProcessMiB : limits.networkProcessMiB;
    now.resident = ResidentBytes(pid);
    if (now.resident > limitMiB * kMiB) {
        const unsigned residentMiB = static_cast<unsigned>(now.resident / kMiB);
        End(pid, kind,
            page ? wxString::Format(wxS("the page's process exceeded its memory limit (%u MiB resident, "
                                        "limit %u MiB); it was ended"),
                                    residentMiB, limitMiB)
                 : wxString::Format(wxS("the engine's network process exceeded its memory limit (%u MiB "
                                        "resident, limit %u MiB); it was ended, and the run's cookies and site data "
                                        "with it"),
                                    residentMiB, limitMiB));
        return false;
    }
    soon = soon || (before && Faster(now.resident, before->resident, kFastGrowthMiB * kMiB, spanUs));
    if (page)
        LookAtFiles(pid, now, before, spanUs, soon);
    return true;
}

gboolean Look(gpointer);

// The look to come, and whether it comes soon.
guint gLookSource = 0;
bool gLookSoon = false;

void ScheduleLook(bool soon)
{
    gLookSoon = soon;
    gLookSource =
        soon ? g_timeout_add(kFastLookMs, Look, nullptr) : g_timeout_add_seconds(kLookSeconds, Look, nullptr);
}

gboolean Look(gpointer)
{
    Watch& watch = TheWatch();
    std::map<pid_t, EngineProcess> kinds;
    std::map<pid_t, Seen> seen;
    std::set<pid_t> ended;
    bool soon = false;
    const gint64 lookedAt = g_get_monotonic_time();
    const gint64 spanUs = watch.lastLook != 0 ? lookedAt - watch.lastLook : kLookSeconds * G_USEC_PER_SEC;
    watch.lastLook = lookedAt;
    ++watch.looks;
    for (const pid_t pid : ChildProcesses()) {
        const auto known = watch.kinds.find(pid);
        const EngineProcess kind = known != watch.kinds.end() ? known->second : KindOf(pid);
        kinds[pid] = kind;
        if (watch.ended.count(pid)) {
            ended.insert(pid);
            continue;
        }
        if (kind == EngineProcess::Other)
            continue;
        const auto before = watch.seen.find(pid);
        Seen now;
        if (LookAt(pid, kind, now, before != watch.seen.end() ? &before->second : nullptr, spanUs, soon)) {
            if (kind == EngineProcess::Page) {
                now.mediaStoppedAt = before != watch.seen.end() ? before->second.mediaStoppedAt : 0;
                AskToRelease(pid, now, before != watch.seen.end() ? &before->second : nullptr);
            }
            seen[pid] = now;
        } else
            ended.insert(pid);
    }
    for (pid_t over = BoundPageFiles(seen); over != 0; over = BoundPageFiles(seen)) {
        seen.erase(over);
        ended.insert(over);
    }
    watch.kinds.swap(kinds);
    watch.seen.swap(seen);
    // What is no longer a child is gone.
    watch.ended.swap(ended);
    ScheduleLook(soon);
    return G_SOURCE_REMOVE;
}

} // namespace

const PageLimits& Limits()
{
    return TheWatch().limits;
}

std::string ProcPath(pid_t pid, const char* name)
{
    return "/proc/" + std::to_string(pid) + "/" + name;
}

std::string ReadProcFile(const std::string& path, bool* unopened)
{
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (unopened)
        *unopened = fd < 0;
    if (fd < 0)
        return text;
    char buffer[1024];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(got));
    ::close(fd);
    return text;
}

void End(pid_t pid, EngineProcess kind, const wxString& why)
{
    Watch& watch = TheWatch();
    ::kill(pid, SIGKILL);
    if (kind == EngineProcess::Page)
        watch.pageEnds.push_back(g_get_monotonic_time());
    // Within the page-log bound: the engine starts some processes again by itself (a page's workers), and
    // a page can have them ended again and again.
    LogProcessEnd(why);
}

bool Faster(uint64_t now, uint64_t before, uint64_t perSecond, gint64 spanUs)
{
    return now > before && now - before > perSecond * static_cast<uint64_t>(spanUs) / G_USEC_PER_SEC;
}

void SendToPage(pid_t pid, const char* name)
{
    webkit_web_context_send_message_to_all_extensions(
        PageContext(), webkit_user_message_new(name, g_variant_new_uint32(static_cast<guint32>(pid))));
}

void LookSoon()
{
    if (gLookSoon)
        return;
    g_source_remove(gLookSource);
    ScheduleLook(true);
}

void StartWatching()
{
    ScheduleLook(false);
    WatchMediaFiles();
}

} // namespace pagewatch

uint64_t ResidentBytes(pid_t pid)
{
    unsigned long long size = 0, resident = 0;
    if (std::sscanf(pagewatch::ReadProcFile(pagewatch::ProcPath(pid, "statm")).c_str(), "%llu %llu", &size,
                    &resident) != 2)
        return 0;
    return resident * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
}

void SetPageLimits(const PageLimits& limits)
{
    pagewatch::TheWatch().limits = limits;
}

PageLimits CurrentPageLimits()
{
    return pagewatch::TheWatch().limits;
}

unsigned long WatchLooksForTesting()
{
    return pagewatch::TheWatch().looks;
}

bool TakeProgramEnd()
{
    std::deque<gint64>& ends = pagewatch::TheWatch().pageEnds;
    const gint64 now = g_get_monotonic_time();
    while (!ends.empty() && now - ends.front() > pagewatch::kEndReportUs)
        ends.pop_front();
    if (ends.empty())
        return false;
    ends.pop_front();
    return true;
}

} // namespace bcx
