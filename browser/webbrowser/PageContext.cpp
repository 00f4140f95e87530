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

#include "browser/pageext/PageMessages.h"
#include "platform/Descriptors.h"

namespace bcx {
namespace {

const uint64_t kMiB = 1024 * 1024;

// The program looks at the engine's processes every second (two small reads per process), and every
// twentieth of a second while one of them is above half its memory limit, grew by more than
// kFastGrowthMiB or wrote more than kFastWriteMiB to disk since the last look, and as soon as the engine
// makes a media file. The engine's own memory-pressure settings would look as often by reading each
// process's whole memory map in that process.
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

// A small file of /proc, whole; empty when it cannot be read.
std::string ReadProcFile(const std::string& path)
{
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[1024];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(got));
    ::close(fd);
    return text;
}

// The engine starts its processes from the program's main thread.
std::vector<pid_t> ChildProcesses()
{
    std::vector<pid_t> pids;
    const pid_t self = ::getpid();
    const std::string text = ReadProcFile(ProcPath(self, "task/") + std::to_string(self) + "/children");
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
    // Logged past the page-log bound: a page's end is never lost among what pages logged before.
    wxLogMessage(wxS("%s"), why);
}

// Looks at one of the engine's processes; false when it was ended.
bool LookAt(pid_t pid, EngineProcess kind, Seen& now, const Seen* before, bool& soon)
{
    const PageLimits& limits = TheWatch().limits;
    const bool page = kind == EngineProcess::Page;
    const unsigned limitMiB = page ? limits.pageProcessMiB : limits.networkProcessMiB;
    now.resident = ResidentBytes(pid);
    if (now.resident > limitMiB * kMiB) {
        const unsigned residentMiB = static_cast<unsigned>(now.resident / kMiB);
        End(pid, kind,
            page ? wxString::Format(wxS("[browser] the page's process exceeded its memory limit (%u MiB resident, "
                                        "limit %u MiB); it was ended"),
                                    residentMiB, limitMiB)
                 : wxString::Format(wxS("[browser] the engine's network process exceeded its memory limit (%u MiB "
                                        "resident, limit %u MiB); it was ended, and the run's cookies and site data "
                                        "with it"),
                                    residentMiB, limitMiB));
        return false;
    }
    soon = soon || now.resident > limitMiB * kMiB / 2 ||
           (before && now.resident > before->resident + kFastGrowthMiB * kMiB);
    if (!page)
        return true;
    now.written = WrittenBytes(pid);
    now.scannedAt = before ? before->scannedAt : 0;
    now.held = before ? before->held : 0;
    soon = soon || (before && now.written > before->written + kFastWriteMiB * kMiB);
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
        wxLogMessage(wxS("[browser] pages held more than %u MiB of files on disk (%u MiB, media the engine "
                         "buffers): the media of the page that held %u MiB of them was stopped"),
                     boundMiB, static_cast<unsigned>(total / kMiB), static_cast<unsigned>(holder.held / kMiB));
        return 0;
    }
    if (now - holder.mediaStoppedAt < kStopGraceUs)
        return 0;
    End(most->first, EngineProcess::Page,
        wxString::Format(wxS("[browser] pages held more than %u MiB of files on disk (%u MiB) after a page's "
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
        if (LookAt(pid, kind, now, before != watch.seen.end() ? &before->second : nullptr, soon)) {
            if (kind == EngineProcess::Page)
                now.mediaStoppedAt = before != watch.seen.end() ? before->second.mediaStoppedAt : 0;
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

// Has the engine draw a random number, so that it opens its random source. The engine's library exports its
// generator (WTF::cryptographicallyRandomNumber<unsigned>) but declares it in no header of its interface:
// it is looked up, and without it nothing is drawn (the engine then opens its source at its first load).
void DrawEngineRandomNumber()
{
    using Generator = unsigned (*)();
    if (void* symbol = dlsym(RTLD_DEFAULT, "_ZN3WTF29cryptographicallyRandomNumberIjEET_v"))
        reinterpret_cast<Generator>(symbol)();
    else
        wxLogMessage(wxS("[browser] the web engine's random source is opened at its first load"));
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
    // The engine keeps its random sources (/dev/urandom) open for the life of the program, made without
    // close-on-exec: one while the context is made, one at the first random number it draws, which is
    // inside the first load, right before it starts a process. Both are opened here, before the engine
    // starts any process, and marked.
    WebKitWebContext* context = nullptr;
    CloseOnExecDuring([&context] {
        WebKitWebsiteDataManager* manager = webkit_website_data_manager_new_ephemeral();
        context = WEBKIT_WEB_CONTEXT(g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "website-data-manager", manager, nullptr));
        g_object_unref(manager);
        DrawEngineRandomNumber();
    });
    // The engine's own threads open files of their own without close-on-exec (its memory monitor keeps
    // /proc/meminfo and its cgroup's files open): they are marked before each page process starts.
    g_signal_connect(context, "initialize-web-extensions", G_CALLBACK(+[](WebKitWebContext*, gpointer) {
                         CloseOnExecAll();
                     }), nullptr);
    // The page extension streams media and stops it when asked; whether it streams is handed to each page
    // process as it starts.
    const std::string extensions = ExtensionDirectory();
    if (extensions.empty())
        wxLogMessage(wxS("[browser] the page extension (%s) is missing: media the engine loads whole is buffered "
                         "on disk, and its page is ended past the bound of files on disk"),
                     wxString::FromUTF8(kExtensionModule));
    else
        webkit_web_context_set_web_extensions_directory(context, extensions.c_str());
    g_signal_connect(context, "initialize-web-extensions", G_CALLBACK(+[](WebKitWebContext* made, gpointer) {
                         webkit_web_context_set_web_extensions_initialization_user_data(
                             made, g_variant_new_boolean(TheWatch().limits.mediaStreamed));
                     }), nullptr);
    // The engine caches nothing between loads: a page the program loads comes from its server, and a
    // page's resources take no memory once it is gone.
    webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
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
    bcx::DisableFeature(webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view)), "MediaDataLoadsAutomatically");
    return view;
}
