#pragma once
// The web engine's share of the program's own memory, told apart from the program's. The engine keeps in
// the program what pages hand it (every history entry's address, state object and frame names, the
// frames' names while a page shows them) in an allocator of its own; the program, the toolkit and the
// libraries under it (game data, lists, the windows' buffers) use the C library's. So the engine's
// share is the program's anonymous resident memory less the part of what the C library's allocator holds
// from the system that has become resident. The windows' pixels that the engine draws into are shared
// memory and never count.
//
// The allocator takes address space before the program touches it (a large calloc, a vector's growth):
// what it holds is put down to the program as far as the program's resident memory grew with it (and
// what it gives back as far as that fell), so that touching it later is not the engine's. Where it errs:
// the engine's growth while the program still holds address space it has not touched is taken for the
// program's, up to that much; anonymous memory of neither allocator (thread stacks, a library's own
// mappings) counts as the engine's; so does memory the allocator gives back while still holding it
// (malloc_trim), when the program touches it again.
//
// With the address sanitizer the engine gives its allocator up for the C library's, which the sanitizer
// takes over: there the share is what the engine's own libraries allocated and have not freed, counted
// by the sanitizer's allocation hooks (StartCountingEngineMemory).
//
// Called on the program's thread only.

#include <cstdint>

namespace bcx {

// Before the engine's first page: the engine's memory is followed from here on (with the address sanitizer,
// its allocations are counted from here on; without it, the C library's allocator is counted whole here).
void StartCountingEngineMemory();

// The engine's allocator gives back to the system, at once, what the engine freed (it would otherwise keep
// it for a while). Its library exports the call (WTF::releaseFastMallocFreeMemory) but declares it in no
// header of its interface: without it, nothing is done.
void ReleaseEngineFreeMemory();

// The engine's share of the program's memory now, in bytes. A look reads the program's resident memory
// and the program break (some microseconds); the C library's allocator is counted whole (mallinfo2, which
// walks all its free blocks: tens of milliseconds on a fragmented heap) only at the first look and after
// the share fell by 8 MiB since the last whole count. Only its changes tell: it may be below 0, and
// with the address sanitizer it counts from the start of the counting.
int64_t EngineShareBytes();

// The same, with the C library's allocator counted whole first: what its mapped blocks and other threads'
// arenas took or gave back since the last whole count is then told apart from the engine's. Costly on a
// fragmented heap: for a decision, not for every look.
int64_t CountedEngineShareBytes();

} // namespace bcx
