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

// The bytes of disk that the files the engine's processes hold open take: below /var/tmp, or deleted
// (shared memory aside). Counted by the blocks the files use, not by their length as the program counts
// them, so that a wrong count of the program's shows.
uint64_t EngineFilesOnDisk();

} // namespace bcxtest
