#pragma once
// The files on disk that page processes hold (MediaFiles.cpp): the media the engine would buffer there,
// and anything else a page process writes.

#include <map>

#include <sys/types.h>

#include "browser/webbrowser/ProcessWatch.h"

namespace bcx {
namespace pagewatch {

// Looks at what the page process pid has written since the look before (spanUs ago; before null for its
// first look), and at the files it holds whenever it has written another few MiB; soon is set when it
// writes fast.
void LookAtFiles(pid_t pid, Seen& now, const Seen* before, gint64 spanUs, bool& soon);

// The page processes together hold no more than the limits' pageFilesMiB on disk: past that the media of
// the one that holds the most is stopped, and if it still holds them a little later, it is ended. The
// process ended, 0 when none was.
pid_t BoundPageFiles(std::map<pid_t, Seen>& seen);

// The files the engine makes for media have the next look come soon.
void WatchMediaFiles();

} // namespace pagewatch
} // namespace bcx
