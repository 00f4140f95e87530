#pragma once
// The program's watch over the engine's processes (ProcessWatch.cpp): what it knows of each, shared with
// the parts that act on what it sees, the release of a page's memory (PageRelease.cpp) and the bound of
// the files on disk that page processes hold (MediaFiles.cpp). The limits it applies are set through
// PageContext.h.

#include <cstdint>
#include <map>
#include <string>

#include <sys/types.h>

#include <glib.h>
#include <wx/string.h>

#include "browser/webbrowser/PageContext.h"

namespace bcx {
namespace pagewatch {

const uint64_t kMiB = 1024 * 1024;

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
    // Its resident memory when it was last asked to release what it can (0: not since it was last well
    // under half its limit), when that was, and whether a repeated ask was logged since.
    uint64_t releasedAt = 0;
    gint64 askedAt = 0;
    bool repeatLogged = false;
    // Above half its limit.
    bool aboveHalf = false;
};

// The limits in force.
const PageLimits& Limits();

// "/proc/<pid>/<name>".
std::string ProcPath(pid_t pid, const char* name);

// A small file of /proc, whole; empty when it cannot be read (and then unopened is set, if given).
std::string ReadProcFile(const std::string& path, bool* unopened = nullptr);

// Ends one of the engine's processes, and logs why (within the bound of lines about ended processes).
void End(pid_t pid, EngineProcess kind, const wxString& why);

// Whether a count went up by more than perSecond a second over spanUs.
bool Faster(uint64_t now, uint64_t before, uint64_t perSecond, gint64 spanUs);

// Sends a message of the page extension (browser/pageext/PageMessages.h) to the page process pid.
void SendToPage(pid_t pid, const char* name);

// The next look comes soon, unless it does already.
void LookSoon();

// Starts the looks, once the program's context is made.
void StartWatching();

} // namespace pagewatch
} // namespace bcx
