#pragma once
// The web engine's share of the program's own memory, told apart from the program's. The engine keeps in
// the program what pages hand it (every history entry's address, state object and frame names, the
// frames' names while a page shows them) in an allocator of its own; the program, the toolkit and the
// libraries under it (game data, lists, the windows' buffers) use the C library's. So the engine's
// share is the program's anonymous resident memory less what the C library's allocator holds from the
// system. The windows' pixels that the engine draws into are shared memory and never count.
//
// With the address sanitizer the engine gives its allocator up for the C library's, which the sanitizer
// takes over: there the share is what the engine's own libraries allocated and have not freed, counted
// by the sanitizer's allocation hooks (StartCountingEngineMemory).

#include <cstdint>

namespace bcx {

// Before the engine's first page, once: with the address sanitizer, the engine's allocations are counted
// from here on (without it, nothing needs to be done).
void StartCountingEngineMemory();

// The engine's allocator gives back to the system, at once, what the engine freed (it would otherwise keep
// it for a while). Its library exports the call (WTF::releaseFastMallocFreeMemory) but declares it in no
// header of its interface: without it, nothing is done.
void ReleaseEngineFreeMemory();

// The engine's share of the program's memory now, in bytes. A few small reads: cheap enough to be looked
// at many times a second. Only its changes tell: with the address sanitizer it counts from the start of
// the counting, and what the engine frees of what it allocated before takes it below 0.
int64_t EngineShareBytes();

} // namespace bcx
