#include "browser/webbrowser/PageContext.h"

#include <csignal>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <climits>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <glib-unix.h>
#include <webkit2/webkit2.h>
#include <wx/log.h>

#include "browser/PageLog.h"
#include "browser/pageext/PageMessages.h"
#include "platform/Descriptors.h"

namespace bcx {
namespace {

const uint64_t kMiB = 1024 * 1024;

// The program looks at the engine's processes every second (two small reads per process), and every
// twentieth of a second while one of them grows by more than kFastGrowthMiB or writes more than
// kFastWriteMiB to disk a second (as measured since the last look), and as soon as the engine makes a
// media file. A process that only stands still, however close to its limit, is looked at every second.
// The engine's own memory-pressure settings would look as often by reading each process's whole memory
// map in that process.
const guint kLookSeconds = 1;
const guint kFastLookMs = 50;
const uint64_t kFastGrowthMiB = 32;
const uint64_t kFastWriteMiB = 1;

// Media that the engine loads whole would be buffered in a file of its own under /var/tmp, deleted at
// once and held open by the page's process; the page extension streams it instead. Should anything a
// page process holds on disk still grow, once the files that page processes hold pass the limits'
// pageFilesMiB together, the media of the one that holds the most is stopped, and the process is ended if
// it still holds them kStopGraceUs later; a process's files are looked at whenever it has written another
// kScanStepMiB. Files count by the blocks they use: the engine's buffer of a clip played after a seek is
// a file with holes.
const char* const kMediaDirectory = "/var/tmp";
const char* const kMediaFilePrefix = "WebKit-Media-";
const uint64_t kScanStepMiB = 4;
const gint64 kStopGraceUs = G_USEC_PER_SEC;

// The extension of the page processes, in a directory of its own: next to the executable, or where the
// build put it.
const char* const kExtensionDirectory = "pageext";
const char* const kExtensionModule = "libbcxpageext.so";

// The engine reports a page's process that the program ended as crashed; an end is matched to such a
// report within this time.
const gint64 kEndReportUs = 5 * G_USEC_PER_SEC;

enum class EngineProcess { Other, Page, Network };

// What the last look saw of one of the engine's processes.
struct Seen {
    uint64_t resident = 0;
    uint64_t written = 0;
    // Written when its files were last looked at, and what they held then.
    uint64_t scannedAt = 0;
    uint64_t held = 0;
    // When its media was stopped for the files it held (0: not).
    gint64 mediaStoppedAt = 0;
    // Its resident memory when it was last asked to release what it can (0: not since it passed half its
    // limit).
    uint64_t releasedAt = 0;
};

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

std::string ProcPath(pid_t pid, const char* name)
{
    return "/proc/" + std::to_string(pid) + "/" + name;
}

// A small file of /proc, whole; empty when it cannot be read (and then unopened is set, if given).
std::string ReadProcFile(const std::string& path, bool* unopened = nullptr)
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

// What the process has written to disk and not taken back, over its life.
uint64_t WrittenBytes(pid_t pid)
{
    const std::string io = ReadProcFile(ProcPath(pid, "io"));
    unsigned long long written = 0, cancelled = 0;
    const size_t w = io.find("\nwrite_bytes:");
    const size_t c = io.find("\ncancelled_write_bytes:");
    if (w == std::string::npos || c == std::string::npos ||
        std::sscanf(io.c_str() + w, "\nwrite_bytes: %llu", &written) != 1 ||
        std::sscanf(io.c_str() + c, "\ncancelled_write_bytes: %llu", &cancelled) != 1)
        return 0;
    return written > cancelled ? written - cancelled : 0;
}

// The files on disk the process holds open: deleted ones (shared memory aside) and those in the media
// directory.
uint64_t FilesOnDisk(pid_t pid)
{
    uint64_t total = 0;
    const std::string fds = ProcPath(pid, "fd/");
    DIR* dir = ::opendir(fds.c_str());
    if (!dir)
        return 0;
    const std::string deletedMark = " (deleted)";
    while (const dirent* entry = ::readdir(dir)) {
        const std::string fd = fds + entry->d_name;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(fd.c_str(), target, sizeof target);
        if (n <= 0)
            continue;
        const std::string path(target, static_cast<size_t>(n));
        const bool deleted = path.size() > deletedMark.size() &&
                             path.compare(path.size() - deletedMark.size(), deletedMark.size(), deletedMark) == 0;
        const bool memory = path.rfind("/memfd:", 0) == 0 || path.rfind("/dev/shm/", 0) == 0;
        const bool media = path.rfind(std::string(kMediaDirectory) + "/", 0) == 0;
        struct stat st {};
        if (((deleted && !memory) || media) && ::stat(fd.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            total += static_cast<uint64_t>(st.st_blocks) * 512;
    }
    ::closedir(dir);
    return total;
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

// Whether a count went up by more than perSecond a second over spanUs.
bool Faster(uint64_t now, uint64_t before, uint64_t perSecond, gint64 spanUs)
{
    return now > before && now - before > perSecond * static_cast<uint64_t>(spanUs) / G_USEC_PER_SEC;
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
    if (!page)
        return true;
    now.written = WrittenBytes(pid);
    now.scannedAt = before ? before->scannedAt : 0;
    now.held = before ? before->held : 0;
    soon = soon || (before && Faster(now.written, before->written, kFastWriteMiB * kMiB, spanUs));
    if (now.written >= now.scannedAt + kScanStepMiB * kMiB) {
        now.scannedAt = now.written;
        now.held = FilesOnDisk(pid);
    }
    return true;
}

uint64_t HeldByPages(const std::map<pid_t, Seen>& seen)
{
    uint64_t total = 0;
    for (const auto& process : seen)
        total += process.second.held;
    return total;
}

// Sends a message of the page extension (PageMessages.h) to the page process pid.
void SendToPage(pid_t pid, const char* name)
{
    webkit_web_context_send_message_to_all_extensions(
        PageContext(), webkit_user_message_new(name, g_variant_new_uint32(static_cast<guint32>(pid))));
}

// A page's process past half its memory limit is asked to release what it can (the engine's release under
// critical pressure, run by the page extension), and again whenever it has grown by another eighth of its
// limit since; once back under half, again when it next passes half. By itself the engine drops the
// decoded images a page no longer shows only past its memory cache's capacity, and keeps the rest of its
// caches: a long read of a page that keeps adding images would reach the limit. A page that holds its
// memory still does.
void AskToRelease(pid_t pid, Seen& now, const Seen* before)
{
    const uint64_t limit = TheWatch().limits.pageProcessMiB * kMiB;
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

// The page processes together hold no more than the limits' pageFilesMiB on disk: past that the media of
// the one that holds the most is stopped, and if it still holds them a little later, it is ended. The
// process ended, 0 when none was.
pid_t BoundPageFiles(std::map<pid_t, Seen>& seen)
{
    const unsigned boundMiB = TheWatch().limits.pageFilesMiB;
    const uint64_t bound = boundMiB * kMiB;
    if (HeldByPages(seen) <= bound) {
        // Back within the bound: media stopped before is stopped again before an end.
        for (auto& process : seen)
            process.second.mediaStoppedAt = 0;
        return 0;
    }
    // What the others held when they were last looked at may be gone.
    for (auto& process : seen)
        if (process.second.held > 0)
            process.second.held = FilesOnDisk(process.first);
    const uint64_t total = HeldByPages(seen);
    if (total <= bound)
        return 0;
    const auto most = std::max_element(seen.begin(), seen.end(), [](const auto& a, const auto& b) {
        return a.second.held < b.second.held;
    });
    Seen& holder = most->second;
    const gint64 now = g_get_monotonic_time();
    if (holder.mediaStoppedAt == 0) {
        holder.mediaStoppedAt = now;
        SendToPage(most->first, kStopMediaMessage);
        LogProcessEnd(wxString::Format(wxS("pages held more than %u MiB of files on disk (%u MiB, media the engine "
                                           "buffers): the media of the page that held %u MiB of them was stopped"),
                                       boundMiB, static_cast<unsigned>(total / kMiB),
                                       static_cast<unsigned>(holder.held / kMiB)));
        return 0;
    }
    if (now - holder.mediaStoppedAt < kStopGraceUs)
        return 0;
    End(most->first, EngineProcess::Page,
        wxString::Format(wxS("pages held more than %u MiB of files on disk (%u MiB) after a page's "
                             "media was stopped: the page's process that held %u MiB of them was ended"),
                         boundMiB, static_cast<unsigned>(total / kMiB), static_cast<unsigned>(holder.held / kMiB)));
    return most->first;
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

// The engine made a file in the media directory: the files its processes hold are looked at soon.
gboolean MediaFileMade(gint fd, GIOCondition, gpointer)
{
    alignas(inotify_event) char buffer[4096];
    bool media = false;
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
            const inotify_event* event = reinterpret_cast<const inotify_event*>(buffer + at);
            media = media ||
                    (event->len > 0 && std::strncmp(event->name, kMediaFilePrefix, std::strlen(kMediaFilePrefix)) == 0);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    if (media && !gLookSoon) {
        g_source_remove(gLookSource);
        ScheduleLook(true);
    }
    return G_SOURCE_CONTINUE;
}

void WatchMediaFiles()
{
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0 || ::inotify_add_watch(fd, kMediaDirectory, IN_CREATE) < 0) {
        if (fd >= 0)
            ::close(fd);
        wxLogMessage(wxS("[browser] the media files pages make are looked at every second only: %s cannot be "
                         "watched"),
                     wxString::FromUTF8(kMediaDirectory));
        return;
    }
    g_unix_fd_add(fd, G_IO_IN, MediaFileMade, nullptr);
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

// The directory of the page extension: next to the executable, or where the build put it; empty when
// neither holds it.
std::string ExtensionDirectory()
{
    std::vector<std::string> places;
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        const std::string path(self, static_cast<size_t>(n));
        places.push_back(path.substr(0, path.rfind('/') + 1) + kExtensionDirectory);
    }
#ifdef BCX_PAGE_EXTENSION_DIR
    places.push_back(BCX_PAGE_EXTENSION_DIR);
#endif
    for (const std::string& place : places)
        if (::access((place + "/" + kExtensionModule).c_str(), R_OK) == 0)
            return place;
    return std::string();
}

WebKitWebContext* MakeContext()
{
    // Pages keep nothing on disk: site storage of every kind, cookies and the HTTP cache live in the
    // network process for as long as the program runs, within that process's memory limit.
    //
    // The engine opens its random source (/dev/urandom) without close-on-exec while the context is made
    // and keeps it open: it is marked here, for the processes the toolkit starts (the engine's own are
    // started through g_subprocess_launcher_spawnv below, which marks every descriptor).
    WebKitWebContext* context = nullptr;
    CloseOnExecDuring([&context] {
        WebKitWebsiteDataManager* manager = webkit_website_data_manager_new_ephemeral();
        context = WEBKIT_WEB_CONTEXT(g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "website-data-manager", manager, nullptr));
        g_object_unref(manager);
    });
    // The page extension streams media and stops it when asked; whether it streams is handed to each page
    // process as it starts.
    const std::string extensions = ExtensionDirectory();
    if (extensions.empty())
        wxLogMessage(wxS("[browser] the page extension (%s) is missing: media the engine loads whole is buffered "
                         "on disk, its page is ended past the bound of files on disk, and a page's process is not "
                         "asked to release memory before its limit"),
                     wxString::FromUTF8(kExtensionModule));
    else
        webkit_web_context_set_web_extensions_directory(context, extensions.c_str());
    g_signal_connect(context, "initialize-web-extensions", G_CALLBACK(+[](WebKitWebContext* made, gpointer) {
                         webkit_web_context_set_web_extensions_initialization_user_data(
                             made, g_variant_new_boolean(TheWatch().limits.mediaStreamed));
                     }), nullptr);
    // The engine's memory cache holds a page's resources (the decoded images among them) within its
    // capacity, drops the decoded data of images not shown for a while past it, and all of it when the
    // page extension asks it to release (above); the extension also has it drop what a page left once the
    // next document is loaded, so that a page the program loads comes from its server. The
    // document-viewer model turns that cache off: a page's decoded images then stay until the page goes,
    // whatever is asked, which is all that is left without the extension. Pages leave no copies of
    // themselves for going back (each view turns that off below).
    webkit_web_context_set_cache_model(context, extensions.empty() ? WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER
                                                                   : WEBKIT_CACHE_MODEL_DOCUMENT_BROWSER);
    ScheduleLook(false);
    WatchMediaFiles();
    return context;
}

void DisableFeature(WebKitSettings* settings, const char* identifier)
{
    WebKitFeatureList* features = webkit_settings_get_all_features();
    for (gsize i = 0; i < webkit_feature_list_get_length(features); ++i) {
        WebKitFeature* feature = webkit_feature_list_get(features, i);
        if (std::strcmp(webkit_feature_get_identifier(feature), identifier) == 0)
            webkit_settings_set_feature_enabled(settings, feature, FALSE);
    }
    webkit_feature_list_unref(features);
}

} // namespace

uint64_t ResidentBytes(pid_t pid)
{
    unsigned long long size = 0, resident = 0;
    if (std::sscanf(ReadProcFile(ProcPath(pid, "statm")).c_str(), "%llu %llu", &size, &resident) != 2)
        return 0;
    return resident * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
}

void SetPageLimits(const PageLimits& limits)
{
    TheWatch().limits = limits;
}

PageLimits CurrentPageLimits()
{
    return TheWatch().limits;
}

WebKitWebContext* PageContext()
{
    // Lives as long as the program, like the engine's default context.
    static WebKitWebContext* context = MakeContext();
    return context;
}

unsigned long WatchLooksForTesting()
{
    return TheWatch().looks;
}

bool TakeProgramEnd()
{
    std::deque<gint64>& ends = TheWatch().pageEnds;
    const gint64 now = g_get_monotonic_time();
    while (!ends.empty() && now - ends.front() > kEndReportUs)
        ends.pop_front();
    if (ends.empty())
        return false;
    ends.pop_front();
    return true;
}

} // namespace bcx

// The toolkit's web view calls this to make its native view: on the program's context, not the
// engine's default one.
//
// preload="auto" in a page's markup loads no more than the clip's metadata by itself. Whatever the engine
// loads of a clip streams through the media pipeline's memory (the page extension), and the watch above
// bounds anything that a page process still holds on disk.
extern "C" GtkWidget* webkit_web_view_new(void)
{
    GtkWidget* view = webkit_web_view_new_with_context(bcx::PageContext());
    WebKitSettings* settings = webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view));
    bcx::DisableFeature(settings, "MediaDataLoadsAutomatically");
    webkit_settings_set_enable_page_cache(settings, FALSE);
    return view;
}

// The engine starts its network and page processes with GLib's subprocess launcher, on the GUI thread.
// The program defines that function, as it does the view constructor above, so that every descriptor is
// close-on-exec right before each of those processes starts, whichever it is and whenever it comes: the
// engine and its threads open files without the flag at any time (its random source, its memory
// monitor's /proc and cgroup files). The descriptors the engine hands to the process
// (g_subprocess_launcher_take_fd) reach it all the same: GLib clears the flag on those in the child
// itself (or, where it uses posix_spawn, duplicates them onto their targets), whatever it was. What
// another thread opens without the flag between the marking and GLib's fork still reaches that process.
extern "C" GSubprocess* g_subprocess_launcher_spawnv(GSubprocessLauncher* launcher, const gchar* const* argv,
                                                    GError** error)
{
    using Spawn = GSubprocess* (*)(GSubprocessLauncher*, const gchar* const*, GError**);
    static const Spawn spawn = reinterpret_cast<Spawn>(dlsym(RTLD_NEXT, "g_subprocess_launcher_spawnv"));
    if (!spawn) {
        wxLogMessage(wxS("[browser] no process can be started: GLib's g_subprocess_launcher_spawnv is not found"));
        g_set_error_literal(error, G_SPAWN_ERROR, G_SPAWN_ERROR_FAILED, "g_subprocess_launcher_spawnv not found");
        return nullptr;
    }
    bcx::CloseOnExecAll();
    // Pages are painted on the processor unless the environment says otherwise. Painted with the GL
    // renderer, a page process keeps the images it has drawn as textures, which the engine does not give
    // back when asked to release; with a software GL (no graphics card, or none the driver supports) those
    // textures are the page process's own memory, and a long read of a page that keeps adding images
    // reaches its limit.
    g_subprocess_launcher_setenv(launcher, "WEBKIT_SKIA_ENABLE_CPU_RENDERING", "1", FALSE);
    return spawn(launcher, argv, error);
}
