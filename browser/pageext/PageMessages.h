#pragma once
// The messages the program sends to the extension it loads into the engine's page processes
// (browser/pageext/PageExtension.cpp). The program sends them to every page process; each carries the
// process id ("u") of the one it is meant for, and the others ignore it.

namespace bcx {

// Stop every media pipeline of the process: its media elements report a network error.
constexpr const char* kStopMediaMessage = "bcx-stop-media";

// Release what the process can do without: the engine's release under critical memory pressure (decoded
// images, caches, a garbage collection).
constexpr const char* kReleaseMemoryMessage = "bcx-release-memory";

} // namespace bcx
