#pragma once
// This process, the processes it started and the web engine's among them, seen through /proc.

#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

namespace bcxtest {

// The process's resident memory in KiB; 0 once it has ended.
long RssKiB(pid_t pid);

// This process and its descendants, the display server aside.
std::vector<pid_t> ProcessTree();

// The web engine's processes, which it starts from this process's main (GUI) thread: those children of
// that thread whose name starts with prefix ("WebKitWebProces": the page processes).
std::vector<pid_t> EngineProcesses(const std::string& prefix = "WebKit");

// The bytes of the files on disk that the engine's processes hold open: below /var/tmp, or deleted
// (shared memory aside).
uint64_t EngineFilesOnDisk();

} // namespace bcxtest
