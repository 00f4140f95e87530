#pragma once
// Asking a page's process to release what it can, as its memory nears its limit (PageRelease.cpp).

#include <sys/types.h>

#include "browser/webbrowser/ProcessWatch.h"

namespace bcx {
namespace pagewatch {

// After a look at the page process pid (now; before: the look before, null for its first): asks it to
// release its caches and decoded images when it calls for it.
void AskToRelease(pid_t pid, Seen& now, const Seen* before);

} // namespace pagewatch
} // namespace bcx
