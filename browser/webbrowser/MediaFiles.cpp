#include "browser/webbrowser/MediaFiles.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib-unix.h>
#include <wx/log.h>

#include "browser/PageLog.h"
#include "browser/pageext/PageMessages.h"

namespace bcx {
namespace pagewatch {
namespace {

// A page process that writes more than this to disk a second (as measured since the last look) is looked
// at every twentieth of a second.
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

uint64_t HeldByPages(const std::map<pid_t, Seen>& seen)
{
    uint64_t total = 0;
    for (const auto& process : seen)
        total += process.second.held;
    return total;
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
    if (media)
        LookSoon();
    return G_SOURCE_CONTINUE;
}

} // namespace

void LookAtFiles(pid_t pid, Seen& now, const Seen* before, gint64 spanUs, bool& soon)
{
    now.written = WrittenBytes(pid);
    now.scannedAt = before ? before->scannedAt : 0;
    now.held = before ? before->held : 0;
    soon = soon || (before && Faster(now.written, before->written, kFastWriteMiB * kMiB, spanUs));
    if (now.written >= now.scannedAt + kScanStepMiB * kMiB) {
        now.scannedAt = now.written;
        now.held = FilesOnDisk(pid);
    }
}

pid_t BoundPageFiles(std::map<pid_t, Seen>& seen)
{
    const unsigned boundMiB = Limits().pageFilesMiB;
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

} // namespace pagewatch
} // namespace bcx
